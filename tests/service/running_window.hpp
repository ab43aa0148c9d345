#pragma once
// A main window offscreen whose server runs on a free loopback port, with a picture folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>

#include "service/history.hpp"
#include "service/main/view.hpp"
#include "service_support.hpp"
#include "support/http.hpp"

namespace service_test {

inline std::string RegexEscape(const std::string& AText)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(AText, special, R"(\$&)");
}

class RunningWindow : public TRestoresService {
protected:
    void SetUp() override
    {
        App();
        FPort = testing_support::FreePort();
        FFiles = FDir.Str() + "/files/";
        std::filesystem::create_directories(FFiles);
        WriteBytes(FDir.Path() / "config.ini", "Path=" + FFiles + "\r\nPort=" + std::to_string(FPort) + "\r\n");
        FView = std::make_unique<service::TMainView>(FDir.Str());
    }

    void TearDown() override { FView.reset(); }

    // Clicks Start (or Stop) and checks the caption that follows.
    void ClickPower(const char* AExpectedCaption)
    {
        FView->btnPower->click();
        EXPECT_EQ(FView->btnPower->text().toStdString(), AExpectedCaption);
    }

    // Sets the grid's value of the row named AKey.
    void SetGridValue(const std::string& AKey, const std::string& AValue)
    {
        QTableWidget* grid = FView->ValueListEditor1;
        for (int i = 0; i < grid->rowCount(); ++i)
            if (grid->item(i, 0)->text().toStdString() == AKey) {
                grid->item(i, 1)->setText(QString::fromStdString(AValue));
                return;
            }
        ADD_FAILURE() << "no row " << AKey;
    }

    testing_support::TCurlResult Get(const std::string& APath, int APort = 0)
    {
        return testing_support::Curl({testing_support::LoopbackUrl(APort ? APort : FPort, APath)});
    }

    // Waits until the history shows ALines lines; returns its last line.
    std::string LastLineOnceThereAre(int ALines)
    {
        bool ok = ProcessEventsUntil([&] { return FView->HistoryLineCount() == ALines; });
        EXPECT_TRUE(ok) << "history has " << FView->HistoryLineCount() << " lines, expected " << ALines;
        return FView->MemoHistorico->document()->lastBlock().text().toStdString();
    }

    // The addressed history line of a loopback client for counter value AValue.
    static std::string AddressedPattern(int AValue, const std::string& ARouteText)
    {
        return R"(127\.0\.0\.1 \| )" + std::to_string(AValue) + R"(\|)" + RegexEscape(service::HistoryDate()) +
               R"(\|\d\d:\d\d:\d\d)" + RegexEscape(ARouteText);
    }

    void ExpectLine(int ALines, int AValue, const std::string& ARouteText)
    {
        const std::string line = LastLineOnceThereAre(ALines);
        EXPECT_TRUE(std::regex_match(line, std::regex(AddressedPattern(AValue, ARouteText)))) << line;
    }

    std::string Edit1() const { return FView->Edit1->text().toStdString(); }
    std::string Edit2() const { return FView->Edit2->text().toStdString(); }

    ScratchDir FDir;
    std::string FFiles;
    int FPort = 0;
    std::unique_ptr<service::TMainView> FView;
};

} // namespace service_test
