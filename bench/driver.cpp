// The product program as bench/run starts it: the same start-up as the program (application
// object, main window, data form, message loop), then the settings are typed into the window's
// grid and its "Start" button is clicked, as an operator would.
//
// Usage: bench_mirovandel --port N --path DIR/ [--history on|off] [--seconds N] [--db-port N]
//                         [--stats FILE]
//   --stats FILE   every 100 ms FILE is rewritten with "loop_threads_created=N loop_threads_alive=M":
//                  the threads the server made to run its loops (hand-offs) so far, and alive
//   --db-port N    the database server's port instead of the program's fixed one (a server
//                  of the bench's own, which it can stop without touching the shared one)
//   --history off  the window's history is detached: lines are still made and queued by every
//                  request, and a trim drops them unshown (what the history display costs)
//   --seconds N    quit by itself after N seconds (default 1800)
// Run with QT_QPA_PLATFORM=offscreen. config.ini goes to $MIROVANDEL_CONFIG_DIR when set.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "platform/base/process_tuning.hpp"
#include "platform/http/http_event_loop.hpp"
#include "service/history.hpp"
#include "service/main/basedados.hpp"
#include "service/main/forms.hpp"

namespace {

bool SetGridValue(QTableWidget* AGrid, const QString& AKey, const QString& AValue)
{
    for (int i = 0; i < AGrid->rowCount(); ++i) {
        QTableWidgetItem* key = AGrid->item(i, 0);
        QTableWidgetItem* value = AGrid->item(i, 1);
        if (key && value && key->text() == AKey) {
            value->setText(AValue);
            return true;
        }
    }
    return false;
}

[[noreturn]] void Usage(const char* AProgram)
{
    std::fprintf(stderr,
                 "usage: %s --port N --path DIR/ [--history on|off] [--seconds N] [--db-port N] [--stats FILE]\n",
                 AProgram);
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[])
{
    platform::TuneProcess(); // as the program does at start-up
    std::string port, path, history = "on", dbPort, stats;
    int seconds = 1800;
    for (int i = 1; i < argc; ++i) {
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(argv[0]);
            return argv[++i];
        };
        if (!std::strcmp(argv[i], "--port"))
            port = value();
        else if (!std::strcmp(argv[i], "--path"))
            path = value();
        else if (!std::strcmp(argv[i], "--history"))
            history = value();
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(value().c_str());
        else if (!std::strcmp(argv[i], "--db-port"))
            dbPort = value();
        else if (!std::strcmp(argv[i], "--stats"))
            stats = value();
        else
            Usage(argv[0]);
    }
    if (port.empty() || path.empty() || (history != "on" && history != "off"))
        Usage(argv[0]);

    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);
    service::SetErrorDisplay([](QWidget*, const std::string& AMessage) {
        std::fprintf(stderr, "bench_mirovandel: error shown: %s\n", AMessage.c_str());
    });

    service::TMainView* view = service::CreateForms();
    view->show();
    if (!dbPort.empty())
        service::BaseDados->SetParam("Port", dbPort);

    if (history == "off") {
        // No display: lines are still made and queued; a trim drops those queued before it.
        service::THistory::Attach(nullptr, 1); // "MemoOK" stays the one line shown
    }

    if (!SetGridValue(view->ValueListEditor1, QStringLiteral("Path"), QString::fromStdString(path)) ||
        !SetGridValue(view->ValueListEditor1, QStringLiteral("Port"), QString::fromStdString(port))) {
        std::fprintf(stderr, "bench_mirovandel: the grid has no Path/Port rows\n");
        return 1;
    }
    view->btnPower->click();
    if (view->btnPower->text() != QStringLiteral("Stop")) {
        std::fprintf(stderr, "bench_mirovandel: the server did not start\n");
        return 1;
    }
    std::fprintf(stderr, "bench_mirovandel: listening on %s, pictures in %s, history %s\n", port.c_str(), path.c_str(),
                 history.c_str());
    QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
    QTimer statsTimer;
    if (!stats.empty()) {
        // Written aside and renamed, so a reader never sees half a line.
        QObject::connect(&statsTimer, &QTimer::timeout, [&stats] {
            const std::string aside = stats + ".new";
            if (std::FILE* f = std::fopen(aside.c_str(), "w")) {
                std::fprintf(f, "loop_threads_created=%llu loop_threads_alive=%d\n",
                             static_cast<unsigned long long>(platform::http::TEventLoop::ThreadsCreated()),
                             platform::http::TEventLoop::ThreadsAlive());
                std::fclose(f);
                std::rename(aside.c_str(), stats.c_str());
            }
        });
        statsTimer.start(100);
    }

    const int result = application.exec();

    service::DestroyForms();
    return result;
}
