#pragma once

namespace vaultry::qt {

// The application's look: a light, quiet palette with one indigo accent.
void applyStyle();

}  // namespace vaultry::qt
