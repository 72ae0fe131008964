#pragma once

namespace mapping {

// The windows are laid out for the classic 8-point "MS Sans Serif". Where that
// face is missing, the narrowest available stand-ins are preferred so that the
// captions fit the places the layout gives them.
void InstallWindowFontSubstitutes();

} // namespace mapping
