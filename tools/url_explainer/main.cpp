// url_explainer: why a link is, or is not, handed to the download agent.
//   url_explainer URL...          explains each URL given
//   url_explainer                 explains each line of standard input
//   url_explainer --check         checks the installation as the browser of
//                                 this program's bitness sees it
//   url_explainer --check --agent also creates the agent and times it
// Exit code of the URL modes: 0 when every URL was handed over, 1 when some
// were let through. Of the check: 0 all well, 1 warnings, 2 a problem.
#include "tools/url_explainer/check.h"
#include "tools/url_explainer/explain.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
        CheckOptions options;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--agent") != 0) {
                std::fprintf(stderr, "usage: url_explainer --check [--agent]\n");
                return 2;
            }
            options.createAgent = true;
        }
        const CheckReport report = CheckInstallation(options);
        std::fputs(report.text.c_str(), stdout);
        return report.exitStatus;
    }
    bool allHandedOver = true;
    auto explain = [&](const std::string& url) {
        const Explanation e = ExplainUrl(url);
        std::fputs(e.text.c_str(), stdout);
        allHandedOver = allHandedOver && e.handedOver;
    };
    if (argc > 1) {
        for (int i = 1; i < argc; ++i)
            explain(argv[i]);
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
