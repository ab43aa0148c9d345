// Program start-up: application object, main window, data form, message loop.
#include <clocale>

#include <QApplication>

#include "platform/base/process_tuning.hpp"
#include "service/main/forms.hpp"

int main(int argc, char* argv[])
{
    // Process-wide settings of a long-running server, before any thread starts.
    platform::TuneProcess();
    // History dates and times follow the user's locale.
    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);

    service::CreateForms()->show();
    const int result = application.exec();
    service::DestroyForms();
    return result;
}
