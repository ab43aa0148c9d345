// The picture routes end to end: a running window's server, curl, the history and counters.
#include <gtest/gtest.h>

#include <filesystem>

#include "running_window.hpp"

using namespace service;
using namespace service_test;

namespace {

const std::string PngBytes = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "picture bytes";

} // namespace

TEST_F(RunningWindow, GtinSendsThePictureOrAnEmpty404)
{
    WriteBytes(FFiles + "789789789789.png", PngBytes);
    WriteBytes(FFiles + "0042.png", "zeros");
    WriteBytes(FFiles + "42.png", "no zeros");
    std::filesystem::create_directory(FFiles + "123.png");
    ClickPower("Stop");

    auto r = Get("/api/gtin/789789789789");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, PngBytes);
    EXPECT_EQ(r.Reply.HeaderOr("Content-Type"), "image/png");
    EXPECT_EQ(r.Reply.HeaderOr("Content-Disposition"), "inline; filename=\"789789789789.png\"");
    ExpectLine(2, 1, "| Entregue arquivo: " + FFiles + "789789789789.png");
    EXPECT_EQ(TotalResolvidos.load(), 1);
    EXPECT_EQ(Edit1(), "1");
    EXPECT_EQ(Edit2(), "0");

    // Any non-digits in the code: the same file.
    r = Get("/api/gtin/789-789.789789");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, PngBytes);
    ExpectLine(3, 2, "| Entregue arquivo: " + FFiles + "789789789789.png");

    // No digits: the name is the folder and ".png".
    r = Get("/api/gtin/abc");
    EXPECT_EQ(r.Reply.Status, 404);
    EXPECT_EQ(r.Reply.Body, "");
    ExpectLine(4, 1, "| Arquivo nao encontrado: " + FFiles + ".png");
    EXPECT_EQ(Total404.load(), 1);
    EXPECT_EQ(Edit2(), "1");

    // A folder of that name is no picture.
    r = Get("/api/gtin/123");
    EXPECT_EQ(r.Reply.Status, 404);
    EXPECT_EQ(r.Reply.Body, "");
    ExpectLine(5, 2, "| Arquivo nao encontrado: " + FFiles + "123.png");

    // Leading zeros stay.
    r = Get("/api/gtin/0042");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, "zeros");
    ExpectLine(6, 3, "| Entregue arquivo: " + FFiles + "0042.png");
    EXPECT_EQ(Edit1(), "3");
    EXPECT_EQ(Edit2(), "2");

    // Only GET is routed.
    r = testing_support::Curl({"-X", "POST", testing_support::LoopbackUrl(FPort, "/api/gtin/1")});
    EXPECT_EQ(r.Reply.Status, 404);
    EXPECT_EQ(TotalResolvidos.load() + Total404.load(), 5);
}

TEST_F(RunningWindow, FotoExisteAnswersSimOrNaoAndAlwaysCountsResolved)
{
    WriteBytes(FFiles + "555.png", PngBytes);
    ClickPower("Stop");

    auto r = Get("/api/fotoexiste/123");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, "Nao");
    EXPECT_EQ(r.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    ExpectLine(2, 1, "| Consulta Arquivo : " + FFiles + "123.png Nao");
    EXPECT_EQ(Total404.load(), 0);

    r = Get("/api/fotoexiste/5-5-5");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, "Sim");
    ExpectLine(3, 2, "| Consulta Arquivo : " + FFiles + "555.png Sim");
    EXPECT_EQ(Edit1(), "2");
    EXPECT_EQ(Edit2(), "0");
}

TEST_F(RunningWindow, FotoExisteJAnswersJsonWithTheDecodedCode)
{
    WriteBytes(FFiles + "1234.png", PngBytes);
    ClickPower("Stop");

    auto r = Get("/api/fotoexistej/12%2034");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, R"({"Status":"200","Status_Desc":"Foto encontrada: 12 34"})");
    EXPECT_EQ(r.Reply.HeaderOr("Content-Type"), "application/json; charset=UTF-8");
    ExpectLine(2, 1, "| Consulta Arquivo : " + FFiles + "1234.png Sim");

    r = Get("/api/fotoexistej/abc");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, R"({"Status":"404","Status_Desc":"Foto nao encontrada: abc"})");
    ExpectLine(3, 2, "| Consulta Arquivo : " + FFiles + ".png Nao");
    EXPECT_EQ(Total404.load(), 0);
    EXPECT_EQ(Edit1(), "2");
}

TEST_F(RunningWindow, PathWithoutTrailingSeparatorRunsOnIntoTheFileName)
{
    const std::string folder = FDir.Str() + "/fotos";
    std::filesystem::create_directories(folder);
    WriteBytes(folder + "/123.png", "inside");
    WriteBytes(folder + "123.png", "beside");
    SetGridValue("Path", folder);
    ClickPower("Stop");

    auto r = Get("/api/gtin/123");
    EXPECT_EQ(r.Reply.Status, 200);
    EXPECT_EQ(r.Reply.Body, "beside");
    ExpectLine(2, 1, "| Entregue arquivo: " + folder + "123.png");

    // A missing folder: every picture is missing.
    ClickPower("Start");
    SetGridValue("Path", FDir.Str() + "/nowhere/");
    ClickPower("Stop");
    r = Get("/api/fotoexiste/123");
    EXPECT_EQ(r.Reply.Body, "Nao");
}
