#include "service/main/forms.hpp"

#include "service/main/basedados.hpp"

namespace service {

TMainView* CreateForms()
{
    auto* view = new TMainView();
    MainView = view;
    BaseDados = new TBaseDados();
    return view;
}

void DestroyForms()
{
    TMainView* view = MainView;
    if (view)
        view->Shutdown();
    delete BaseDados;
    BaseDados = nullptr;
    MainView = nullptr;
    delete view;
}

} // namespace service
