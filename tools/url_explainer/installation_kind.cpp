#include "tools/url_explainer/installation_kind.h"

std::string RegisterAgainFix(InstallationKind kind) {
    if (kind == InstallationKind::kPackage) {
        return "repair WebCorvaneBHO in the installed programs (Programs and Features), or "
               "install its package again";
    }
    return "run install.cmd of the release folder as an administrator";
}
