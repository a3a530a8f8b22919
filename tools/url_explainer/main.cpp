// url_explainer: why a link or a download is, or is not, handed to the
// download agent.
//   url_explainer URL...          explains each URL given, as the DLL decides
//   url_explainer                 explains each line of standard input
//   url_explainer --download NAME URL
//                                 explains a download Chrome or Edge holds, as
//                                 the native messaging host decides (NAME is the
//                                 file name the browser proposes, "" for none)
//   url_explainer --check         checks the installation as the browser of
//                                 this program's bitness sees it
//   url_explainer --check --agent also creates the agent and times it
// Exit code of the URL modes: 0 when every URL was handed over, 1 when some
// were let through. Of the check: 0 all well, 1 warnings, 2 a problem.
#include "common/boundary.h"
#include "common/string_conversion.h"
#include "tools/url_explainer/check.h"
#include "tools/url_explainer/explain.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The arguments as typed, in UTF-8: the ANSI code page would lose a file
// name's characters outside it.
std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
}

int Run(const std::vector<std::string>& arguments) {
    if (!arguments.empty() && arguments[0] == "--check") {
        CheckOptions options;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            if (arguments[i] != "--agent") {
                std::fprintf(stderr, "usage: url_explainer --check [--agent]\n");
                return 2;
            }
            options.createAgent = true;
        }
        const CheckReport report = CheckInstallation(options);
        Print(report.text);
        return report.exitStatus;
    }
    if (!arguments.empty() && arguments[0] == "--download") {
        if (arguments.size() != 3) {
            std::fprintf(stderr, "usage: url_explainer --download FILE-NAME URL\n");
            return 2;
        }
        const Explanation e = ExplainDownload(arguments[1], arguments[2]);
        Print(e.text);
        return e.handedOver ? 0 : 1;
    }
    bool allHandedOver = true;
    auto explain = [&](const std::string& url) {
        const Explanation e = ExplainUrl(url);
        Print(e.text);
        allHandedOver = allHandedOver && e.handedOver;
    };
    if (!arguments.empty()) {
        for (const std::string& url : arguments)
            explain(url);
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                explain(line);
        }
    }
    return allHandedOver ? 0 : 1;
}

}  // namespace

int main() {
    return GuardBoundary(2, [] { return Run(Arguments()); });
}
