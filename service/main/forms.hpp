#pragma once
// The program's two forms, made and freed in the one order the rest relies on.
#include "service/main/view.hpp"

namespace service {

// Makes the main window (MainView, the first top-level window, so it has the taskbar button)
// and the data form (BaseDados, never shown, no database connection until a request needs
// one). The window is not shown yet.
TMainView* CreateForms();

// Ends the requests still running first, so none reaches the window or the data form once
// they are gone; then frees both and clears MainView and BaseDados.
void DestroyForms();

} // namespace service
