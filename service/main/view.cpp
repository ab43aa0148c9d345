#include "service/main/view.hpp"

#include <QAbstractItemView>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTableWidget>
#include <QTimer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <mutex>

#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "service/main/control.hpp"

namespace service {

TMainView* MainView = nullptr;

namespace {

std::mutex GErrorDisplayLock;
TErrorDisplay GErrorDisplay;

// Layout at 96 dpi: the client area and the places that follow its edges.
constexpr int KClientWidth = 1008;
constexpr int KClientHeight = 571;
constexpr int KPanelHeight = 41;
constexpr int KPowerLeft = 862, KPowerRightGap = KClientWidth - 862;
constexpr int KSaveLeftFromCentre = 661 - KClientWidth / 2;

QString Q(const std::string& AText)
{
    return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
}

std::string S(const QString& AText)
{
    return AText.toUtf8().toStdString();
}

// Column 0 keeps whether the row had a "=": rows without one show the whole line as the key.
constexpr int KHasSeparatorRole = Qt::UserRole + 1;

} // namespace

void SetErrorDisplay(TErrorDisplay ADisplay)
{
    std::lock_guard lock(GErrorDisplayLock);
    GErrorDisplay = std::move(ADisplay);
}

void ShowError(QWidget* AParent, const std::string& AMessage)
{
    TErrorDisplay display;
    {
        std::lock_guard lock(GErrorDisplayLock);
        display = GErrorDisplay;
    }
    if (display) {
        display(AParent, AMessage);
        return;
    }
    QMessageBox::critical(AParent, QStringLiteral("mirovandel"), Q(AMessage));
}

TMainView::TMainView(const std::string& AConfigDir, QWidget* AParent) : QWidget(AParent), FConfigDir(AConfigDir)
{
    BuildLayout();
    FormCreate(this);
}

TMainView::~TMainView()
{
    Shutdown();
}

void TMainView::Shutdown()
{
    if (FShutDown)
        return;
    FShutDown = true;
    THistory::Detach(this);
    // Stopping waits for the requests in work; none of them waits for this window.
    if (FControl)
        FControl->Shutdown();
}

void TMainView::BuildLayout()
{
    setObjectName(QStringLiteral("MainView"));
    setWindowTitle(QStringLiteral("Servidor Mirovandel 3.0 - Drelmont | Firedac | Post - Vosk"));
    // Where Tahoma is missing, a face of about its width keeps "Total de Resquests resolvidos:"
    // clear of the counter beside it (the widest default sans runs into it).
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                                          QStringLiteral("DejaVu Sans Condensed")});
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    resize(KClientWidth, KClientHeight);

    Panel1 = new QLabel(QStringLiteral("Server"), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);

    Panel3 = new QFrame(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFrameShape(QFrame::Panel);
    Panel3->setFrameShadow(QFrame::Raised);

    btnPower = new QPushButton(QStringLiteral("Start"), Panel3);
    btnPower->setObjectName(QStringLiteral("btnPower"));
    btnPower->setGeometry(KPowerLeft, 5, 142, 30);
    btnSaveConfig = new QPushButton(QStringLiteral("Save Config"), Panel3);
    btnSaveConfig->setObjectName(QStringLiteral("btnSaveConfig"));
    btnSaveConfig->setGeometry(661, 5, 75, 30);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 47, 1008, 482);

    ValueListEditor1 = new QTableWidget(0, 2, Panel2);
    ValueListEditor1->setObjectName(QStringLiteral("ValueListEditor1"));
    ValueListEditor1->setGeometry(0, 0, 1008, 80);
    ValueListEditor1->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Value")});
    ValueListEditor1->setColumnWidth(0, 150);
    ValueListEditor1->setColumnWidth(1, 850);
    ValueListEditor1->verticalHeader()->setVisible(false);
    ValueListEditor1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ValueListEditor1->verticalHeader()->setDefaultSectionSize(18);
    ValueListEditor1->horizontalHeader()->setFixedHeight(18);
    ValueListEditor1->setTabKeyNavigation(false);
    ValueListEditor1->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ValueListEditor1->setSelectionMode(QAbstractItemView::SingleSelection);

    GroupBox3 = new QGroupBox(QString::fromUtf8("Hist\xC3\xB3rico"), Panel2);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(0, 80, 1008, 336);
    auto* box = new QVBoxLayout(GroupBox3);
    box->setContentsMargins(2, 2, 2, 2);
    MemoHistorico = new QPlainTextEdit(GroupBox3);
    MemoHistorico->setObjectName(QStringLiteral("MemoHistorico"));
    MemoHistorico->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MemoHistorico->setTabChangesFocus(true);
    // Thousands of lines arrive from requests; an undo history of them would only cost memory.
    MemoHistorico->setUndoRedoEnabled(false);
    MemoHistorico->setPlainText(QStringLiteral("MemoOK"));
    box->addWidget(MemoHistorico);

    Label1 = new QLabel(QStringLiteral("Total de Resquests resolvidos:"), Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(4, 419);
    Label1->adjustSize();
    Edit1 = new QLineEdit(QStringLiteral("Edit1"), Panel2);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(160, 416, 121, 21);
    Label2 = new QLabel(QStringLiteral("Total de Resquests 404:"), Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(4, 443);
    Label2->adjustSize();
    Edit2 = new QLineEdit(QStringLiteral("Edit1"), Panel2);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(160, 440, 121, 21);

    Bevel1 = new QFrame(Panel2);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(0, 482 - 16, 1008, 16);

    // Keyboard order: Panel1 (nothing to focus), Panel3, Panel2.
    btnPower->setFocusPolicy(Qt::StrongFocus);
    btnSaveConfig->setFocusPolicy(Qt::StrongFocus);
    QWidget::setTabOrder(btnPower, btnSaveConfig);
    QWidget::setTabOrder(btnSaveConfig, ValueListEditor1);
    QWidget::setTabOrder(ValueListEditor1, MemoHistorico);
    QWidget::setTabOrder(MemoHistorico, Edit1);
    QWidget::setTabOrder(Edit1, Edit2);

    connect(btnPower, &QPushButton::clicked, this, [this] { btnPowerClick(btnPower); });
    connect(btnSaveConfig, &QPushButton::clicked, this, [this] { btnSaveConfigClick(btnSaveConfig); });
    connect(MemoHistorico, &QPlainTextEdit::textChanged, this, [this] { MemoHistoricoChange(MemoHistorico); });

    // Lines are shown at most this much later, so that a busy server does not keep this
    // thread redrawing for every few lines.
    FDrainTimer = new QTimer(this);
    FDrainTimer->setSingleShot(true);
    FDrainTimer->setInterval(250);
    connect(FDrainTimer, &QTimer::timeout, this, [this] { DrainHistory(); });

    THistory::Attach(this, HistoryLineCount());
}

void TMainView::resizeEvent(QResizeEvent* AEvent)
{
    QWidget::resizeEvent(AEvent);
    const int w = width();
    const int h = height();
    Panel1->setGeometry(0, 0, w, KPanelHeight);
    Panel3->setGeometry(0, h - KPanelHeight, w, KPanelHeight);
    btnPower->move(w - KPowerRightGap, 5);
    btnSaveConfig->move(w / 2 + KSaveLeftFromCentre, 5);
}

void TMainView::FormCreate(QObject*)
{
    try {
        FControl = FConfigDir.empty() ? std::make_unique<TMainControl>() : std::make_unique<TMainControl>(FConfigDir);
        ShowConfig();
    } catch (const std::exception& e) {
        FControl.reset();
        ShowError(this, e.what());
    }
}

void TMainView::ShowConfig()
{
    const platform::TStringList& config = FControl->Config();
    FGridEncoding = config.Encoding();
    ValueListEditor1->setRowCount(0);
    ValueListEditor1->setRowCount(config.Count());
    for (int i = 0; i < config.Count(); ++i) {
        const std::string& line = config.Strings(i);
        size_t eq = line.find('=');
        const bool hasSeparator = eq != std::string::npos;
        auto* key = new QTableWidgetItem(Q(hasSeparator ? line.substr(0, eq) : line));
        key->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        key->setData(KHasSeparatorRole, hasSeparator);
        auto* value = new QTableWidgetItem(hasSeparator ? Q(line.substr(eq + 1)) : QString());
        value->setFlags(hasSeparator ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable)
                                     : (Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        ValueListEditor1->setItem(i, 0, key);
        ValueListEditor1->setItem(i, 1, value);
    }
}

platform::TStringList TMainView::GridRows() const
{
    platform::TStringList rows;
    rows.SetEncoding(FGridEncoding);
    for (int i = 0; i < ValueListEditor1->rowCount(); ++i) {
        const QTableWidgetItem* key = ValueListEditor1->item(i, 0);
        const QTableWidgetItem* value = ValueListEditor1->item(i, 1);
        std::string line = key ? S(key->text()) : std::string();
        MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
        if (!key || key->data(KHasSeparatorRole).toBool())
            line += "=" + (value ? S(value->text()) : std::string());
        MIROVANDEL_GCC12_FALSE_RESTRICT_END
        rows.Add(std::move(line));
    }
    return rows;
}

void TMainView::StoreConfig()
{
    FControl->SaveConfig(GridRows());
    ShowConfig();
}

void TMainView::btnPowerClick(QObject*)
{
    if (!FControl) {
        ShowError(this, "The configuration could not be loaded; restart the program");
        return;
    }
    try {
        FControl->Config() = GridRows();
        FControl->Power();
        btnPower->setText(FControl->Active() ? QStringLiteral("Stop") : QStringLiteral("Start"));
    } catch (const std::exception& e) {
        ShowError(this, e.what());
    }
}

void TMainView::btnSaveConfigClick(QObject*)
{
    if (!FControl) {
        ShowError(this, "The configuration could not be loaded; restart the program");
        return;
    }
    try {
        StoreConfig();
    } catch (const std::exception& e) {
        ShowError(this, e.what());
    }
}

void TMainView::MemoHistoricoChange(QObject*)
{
    if (!FApplyingHistory)
        THistory::ShownLinesChanged(HistoryLineCount());
    Edit1->setText(QString::number(TotalResolvidos.load()));
    Edit2->setText(QString::number(Total404.load()));
}

int32_t TMainView::HistoryLineCount() const
{
    const QTextDocument* doc = MemoHistorico->document();
    if (doc->isEmpty())
        return 0;
    int32_t blocks = doc->blockCount();
    if (doc->lastBlock().length() <= 1) // an empty last line (only its separator)
        --blocks;
    return blocks;
}

void TMainView::HistoryPending()
{
    // Called with the history's lock held, from any thread: only schedule the drain.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!FDrainTimer->isActive())
                FDrainTimer->start();
        },
        Qt::QueuedConnection);
}

void TMainView::DrainHistory()
{
    std::vector<THistoryOp> ops = THistory::TakePending();
    if (ops.empty())
        return;
    size_t first = 0;
    bool clear = false;
    for (size_t i = ops.size(); i-- > 0;)
        if (ops[i].Clear) {
            clear = true;
            first = i + 1;
            break;
        }
    FApplyingHistory = true;
    // Lines the program adds are not the operator's edits: they stay off the undo stack (which
    // would otherwise hold a second copy of every line until the next clear).
    QTextDocument* doc = MemoHistorico->document();
    doc->setUndoRedoEnabled(false);
    if (clear)
        MemoHistorico->clear();
    // Lines the window's bound would push out at once are not added at all.
    if (ops.size() - first > size_t{THistory::KMaxShownLines})
        first = ops.size() - THistory::KMaxShownLines;
    if (first < ops.size()) {
        // One conversion for the whole batch.
        size_t length = 0;
        for (size_t i = first; i < ops.size(); ++i)
            length += ops[i].Line.size() + 1;
        std::string batch;
        batch.reserve(length);
        for (size_t i = first; i < ops.size(); ++i) {
            if (i > first)
                batch += '\n';
            batch += ops[i].Line;
        }
        MemoHistorico->appendPlainText(Q(batch));
    }
    if (const int32_t over = HistoryLineCount() - THistory::KMaxShownLines; over > 0) {
        QTextCursor oldest(doc->firstBlock());
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, over);
        oldest.removeSelectedText();
    }
    doc->setUndoRedoEnabled(true);
    FApplyingHistory = false;
    // What the area shows now, plus whatever was queued meanwhile.
    THistory::ShownLinesChanged(HistoryLineCount());
}

} // namespace service
