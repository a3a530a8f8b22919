// url_explainer: why a link is, or is not, handed to the download agent.
//   url_explainer URL...      explains each URL given
//   url_explainer             explains each line of standard input
// Exit code: 0 when every URL was handed over, 1 when some were let through.
#include "tools/url_explainer/explain.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
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
