// Faults from the shop's machine while the program runs: files it cannot write, folders that
// vanish, a port someone else holds, a database that dies and comes back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <QPushButton>
#include <QTableWidget>

#include "service/main/control.hpp"
#include "service/main/view.hpp"
#include "service_support.hpp"

using namespace service;
using namespace service_test;

namespace {

// Makes a file unwritable for as long as it lives, also for root: the immutable attribute
// (chattr +i) where the file system has it, otherwise the file mode (which root ignores, so
// then only for other users). Works() tells whether a write would now fail.
class TUnwritableFile {
public:
    explicit TUnwritableFile(std::filesystem::path APath) : FPath(std::move(APath))
    {
        if (Run("chattr +i '" + FPath.string() + "' 2>/dev/null")) {
            FImmutable = true;
        } else if (::geteuid() != 0) {
            std::filesystem::permissions(FPath, std::filesystem::perms::owner_read);
            FModeOnly = true;
        }
    }
    ~TUnwritableFile() { Release(); }
    void Release()
    {
        if (FImmutable)
            Run("chattr -i '" + FPath.string() + "'");
        if (FModeOnly)
            std::filesystem::permissions(FPath, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        FImmutable = FModeOnly = false;
    }
    bool Works() const { return FImmutable || FModeOnly; }

private:
    static bool Run(const std::string& ACommand) { return std::system(ACommand.c_str()) == 0; }
    std::filesystem::path FPath;
    bool FImmutable = false;
    bool FModeOnly = false;
};

} // namespace

TEST(Faults, ReadOnlyConfigAtSaveConfigShowsTheErrorAndKeepsTheRows)
{
    App();
    ScratchDir dir;
    CapturedErrors errors;
    const auto file = dir.Path() / "config.ini";
    WriteBytes(file, "Path=/fotos/\r\nPort=9000\r\n");
    TMainView view(dir.Str());
    TUnwritableFile lock(file);
    if (!lock.Works())
        GTEST_SKIP() << "cannot make a file unwritable here (no chattr +i, running as root)";

    view.ValueListEditor1->item(1, 1)->setText("9100");
    view.btnSaveConfig->click();
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find(file.string()), std::string::npos) << errors.Messages()[0];
    // The file is as it was; the edited rows are in memory and still in the grid.
    EXPECT_EQ(ReadBytes(file), "Path=/fotos/\r\nPort=9000\r\n");
    EXPECT_EQ(view.Control()->Config().Values("Port"), "9100");
    EXPECT_EQ(view.ValueListEditor1->item(1, 1)->text().toStdString(), "9100");
    EXPECT_EQ(view.btnPower->text().toStdString(), "Start");

    // Writable again: the same click saves what the operator typed.
    lock.Release();
    view.btnSaveConfig->click();
    EXPECT_EQ(errors.Messages().size(), 1u);
    EXPECT_EQ(ReadBytes(file), "Path=/fotos/\r\nPort=9100\r\n");
}
