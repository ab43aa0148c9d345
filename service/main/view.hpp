#pragma once
// The main window: settings grid, Start/Stop, Save Config, history and the two counters.
#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "platform/base/string_list.hpp"
#include "service/history.hpp"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace service {

class TMainControl;

// Shows an error raised by an event handler: by default a message box with the error's text.
// Tests install their own so that nothing blocks.
using TErrorDisplay = std::function<void(QWidget* AParent, const std::string& AMessage)>;
void SetErrorDisplay(TErrorDisplay ADisplay);
void ShowError(QWidget* AParent, const std::string& AMessage);

class TMainView : public QWidget, private IHistorySink {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate. AConfigDir: where config.ini lives; empty for the
    // default (beside the executable, or $MIROVANDEL_CONFIG_DIR).
    explicit TMainView(const std::string& AConfigDir = {}, QWidget* AParent = nullptr);
    // Detaches the history and stops a server that still listens before anything is freed.
    ~TMainView() override;

    // Elements, in declaration order; each widget's objectName is its field name.
    QLabel* Panel1 = nullptr;
    QFrame* Panel3 = nullptr;
    QPushButton* btnPower = nullptr;
    QPushButton* btnSaveConfig = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Bevel1 = nullptr;
    QTableWidget* ValueListEditor1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPlainTextEdit* MemoHistorico = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;

    // Event handlers.
    void FormCreate(QObject* Sender);
    void btnPowerClick(QObject* Sender);
    void btnSaveConfigClick(QObject* Sender);
    void MemoHistoricoChange(QObject* Sender);

    // The server control; null when FormCreate failed.
    TMainControl* Control() const noexcept { return FControl.get(); }
    // The grid's rows as name=value lines, with the encoding of the configuration shown.
    platform::TStringList GridRows() const;
    // Lines of the history area, as added (a trailing empty line does not count).
    int32_t HistoryLineCount() const;
    // Applies the queued history changes now (normally done by a queued call).
    void DrainHistory();
    // End of the program: no more history from requests, server stopped. Safe to call twice.
    void Shutdown();

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void ShowConfig();
    void StoreConfig();
    void HistoryPending() override;
    void BuildLayout();

    std::unique_ptr<TMainControl> FControl;
    platform::TTextEncoding FGridEncoding = platform::TTextEncoding::Default;
    std::string FConfigDir;
    QTimer* FDrainTimer = nullptr; // coalesces history drains
    bool FApplyingHistory = false;
    bool FShutDown = false;
};

// The one main window of the process (set by the program's start-up).
extern TMainView* MainView;

} // namespace service
