// Program start-up: application object, main window, data form, message loop.
#include <clocale>

#include <QApplication>

#include "platform/base/process_tuning.hpp"
#include "service/main/basedados.hpp"
#include "service/main/view.hpp"

int main(int argc, char* argv[])
{
    // Process-wide settings of a long-running server, before any thread starts.
    platform::TuneProcess();
    // History dates and times follow the user's locale.
    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);

    // The first top-level window is the main window and has the taskbar button.
    auto* view = new service::TMainView();
    service::MainView = view;

    // The data form: never shown; no database connection until a request needs one.
    service::BaseDados = new service::TBaseDados();

    view->show();

    const int result = application.exec();

    // Requests still running must not reach the window or the data form once they are gone.
    view->Shutdown();
    delete service::BaseDados;
    service::BaseDados = nullptr;
    service::MainView = nullptr;
    delete view;
    return result;
}
