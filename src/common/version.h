#pragma once

namespace kestrova {

// The version both programs print for --version: the project's version, with the git
// description of the checkout it was built from ("0.1.0 (git 5d3c2a1)"), or the bare
// version when built outside a checkout. KESTROVA_VERSION is the bare version alone.
const char* VersionText();

}  // namespace kestrova
