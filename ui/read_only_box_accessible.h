#pragma once

namespace tolvar {

// Makes screen readers announce the window's read-only path and number boxes as read-only
// text, not as editable boxes (Qt's own line-edit interface always says "editable"), named
// and labelled by the label that names them. Installed once; later calls do nothing.
void installReadOnlyBoxAccessibility();

} // namespace tolvar
