#pragma once

namespace vaultry::qt {

// The application's look: a quiet palette with one indigo accent, light or dark as the desktop's
// colour scheme is.
void applyStyle();
void applyStyle(bool dark);

}  // namespace vaultry::qt
