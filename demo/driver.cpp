// The product program as scripts/demo runs it without a display: the same start-up as the
// program (application object, main window, data form, message loop), with config.ini's settings
// as they are, plus what an operator would do or see in the window:
//
// Usage: mirovandel_demo [--start] [--echo] [--grab FILE] [--seconds N]
//   --start      clicks "Start" once the window is up; exits 1 when the server did not start
//   --echo       prints every line the history area shows, as it shows it, to stdout
//   --grab FILE  keeps FILE a PNG picture of the window, taken again shortly after each change
//                of the history
//   --seconds N  quits by itself after N seconds (default: runs until SIGINT or SIGTERM)
// SIGINT and SIGTERM end the message loop, so the server is stopped the program's own way.
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "platform/base/process_tuning.hpp"
#include "service/main/forms.hpp"

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    (void)!::write(SignalPipe[1], &byte, 1);
}

[[noreturn]] void Usage(const char* AProgram)
{
    std::fprintf(stderr, "usage: %s [--start] [--echo] [--grab FILE] [--seconds N]\n", AProgram);
    std::exit(2);
}

// Prints the lines the history area shows that have not been printed yet. The area only grows
// by whole lines at its end or is emptied, so a count of printed lines is enough.
class THistoryEcho {
public:
    explicit THistoryEcho(QPlainTextEdit* AMemo) : FMemo(AMemo) {}
    void Print()
    {
        const QTextDocument* doc = FMemo->document();
        int count = doc->isEmpty() ? 0 : doc->blockCount();
        if (count > 0 && doc->lastBlock().text().isEmpty())
            --count; // an empty last line is where the next one goes
        if (count < FPrinted)
            FPrinted = 0; // emptied, then refilled
        for (int i = FPrinted; i < count; ++i)
            std::fprintf(stdout, "%s\n", doc->findBlockByNumber(i).text().toUtf8().constData());
        FPrinted = count;
        std::fflush(stdout);
    }

private:
    QPlainTextEdit* FMemo;
    int FPrinted = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    platform::TuneProcess(); // as the program does at start-up
    bool start = false, echo = false;
    std::string grab;
    int seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--start"))
            start = true;
        else if (!std::strcmp(argv[i], "--echo"))
            echo = true;
        else if (!std::strcmp(argv[i], "--grab") && i + 1 < argc)
            grab = argv[++i];
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else
            Usage(argv[0]);
    }

    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);
    service::SetErrorDisplay([](QWidget*, const std::string& AMessage) {
        std::fprintf(stderr, "mirovandel_demo: error shown: %s\n", AMessage.c_str());
    });

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) {
        std::perror("mirovandel_demo: socketpair");
        return 1;
    }
    QSocketNotifier signalNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &application, [] { QApplication::quit(); });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    service::TMainView* view = service::CreateForms();
    view->show();

    THistoryEcho history(view->MemoHistorico);
    QTimer grabber;
    grabber.setSingleShot(true);
    grabber.setInterval(300);
    QObject::connect(&grabber, &QTimer::timeout, view, [view, &grab] {
        if (!view->grab().save(QString::fromStdString(grab), "PNG"))
            std::fprintf(stderr, "mirovandel_demo: cannot write %s\n", grab.c_str());
    });
    QObject::connect(view->MemoHistorico, &QPlainTextEdit::textChanged, view, [&] {
        if (echo)
            history.Print();
        if (!grab.empty())
            grabber.start();
    });
    if (echo)
        history.Print();

    int result = 0;
    if (start) {
        view->btnPower->click();
        if (view->btnPower->text() != QStringLiteral("Stop")) {
            std::fprintf(stderr, "mirovandel_demo: the server did not start\n");
            result = 1;
        }
    }
    if (result == 0) {
        if (!grab.empty())
            grabber.start();
        if (seconds > 0)
            QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
        result = application.exec();
    }

    service::DestroyForms();
    return result;
}
