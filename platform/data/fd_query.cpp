#include "platform/data/fd_query.hpp"

#include "platform/text/ascii.hpp"
#include "platform/text/compare.hpp"

namespace platform {

namespace {

bool IsNameStart(char AChar) noexcept
{
    return (AChar >= 'A' && AChar <= 'Z') || (AChar >= 'a' && AChar <= 'z') || AChar == '_';
}
bool IsNameChar(char AChar) noexcept
{
    return IsNameStart(AChar) || (AChar >= '0' && AChar <= '9');
}

bool HasNonAscii(std::string_view AText) noexcept
{
    for (unsigned char c : AText)
        if (c >= 0x80)
            return true;
    return false;
}

// Column names ignore letter case, also beyond ASCII ("DESCRIÇÃO" is "descrição").
bool SameColumnName(std::string_view ALeft, std::string_view ARight)
{
    if (AsciiSameText(ALeft, ARight))
        return true;
    return (HasNonAscii(ALeft) || HasNonAscii(ARight)) && SameTextLocale(ALeft, ARight);
}

} // namespace

std::string ReplaceSQLParams(std::string_view AText, std::vector<std::string>& ANames)
{
    std::string out;
    out.reserve(AText.size());
    const size_t n = AText.size();
    size_t i = 0;
    auto copyQuoted = [&](char AQuote) {
        // From the opening quote through the closing one; a doubled quote or (except in
        // identifiers) a backslash escape stays inside.
        out += AText[i++];
        while (i < n) {
            char c = AText[i];
            if (c == '\\' && AQuote != '`' && i + 1 < n) {
                out += c;
                out += AText[i + 1];
                i += 2;
                continue;
            }
            out += c;
            ++i;
            if (c == AQuote) {
                if (i < n && AText[i] == AQuote) {
                    out += AText[i++];
                    continue;
                }
                return;
            }
        }
    };
    while (i < n) {
        const char c = AText[i];
        if (c == '\'' || c == '"' || c == '`') {
            copyQuoted(c);
        } else if (c == '#' || (c == '-' && i + 1 < n && AText[i + 1] == '-' &&
                                (i + 2 >= n || static_cast<unsigned char>(AText[i + 2]) <= ' '))) {
            while (i < n && AText[i] != '\n')
                out += AText[i++];
        } else if (c == '/' && i + 1 < n && AText[i + 1] == '*') {
            size_t end = AText.find("*/", i + 2);
            end = end == std::string_view::npos ? n : end + 2;
            out.append(AText.substr(i, end - i));
            i = end;
        } else if (c == ':' && i + 1 < n && IsNameStart(AText[i + 1]) &&
                   (i == 0 || (!IsNameChar(AText[i - 1]) && AText[i - 1] != ':'))) {
            size_t end = i + 1;
            while (end < n && IsNameChar(AText[end]))
                ++end;
            ANames.emplace_back(AText.substr(i + 1, end - i - 1));
            out += '?';
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// ---- TFDField ------------------------------------------------------------------------------

std::string TFDField::AsString() const
{
    if (FQuery->Eof())
        return {};
    const TFDValue& v = FQuery->FResult.Rows[FQuery->FRecNo].at(FIndex);
    return v ? *v : std::string();
}

bool TFDField::IsNull() const
{
    if (FQuery->Eof())
        return true;
    return !FQuery->FResult.Rows[FQuery->FRecNo].at(FIndex);
}

// ---- TFDQuery ------------------------------------------------------------------------------

void TFDQuery::Prepare()
{
    if (FParsedVersion == FSQL.Version())
        return;
    Close();
    if (FSQL.FLines == FParsedLines) {
        // The same text set again (a caller that fills SQL before every run): the parse still
        // holds; the values start unset as with a new text.
        for (auto& p : FParams)
            p->Clear();
        FParsedVersion = FSQL.Version();
        return;
    }
    std::vector<std::string> names;
    FStatement = ReplaceSQLParams(FSQL.Text(), names);
    FParams.clear();
    FPlaceholders.clear();
    for (auto& name : names) {
        size_t index = FParams.size();
        for (size_t k = 0; k < FParams.size(); ++k)
            if (AsciiSameText(FParams[k]->Name(), name)) {
                index = k;
                break;
            }
        if (index == FParams.size())
            FParams.push_back(std::make_unique<TFDParam>(std::move(name)));
        FPlaceholders.push_back(index);
    }
    FParsedLines = FSQL.FLines;
    FParsedVersion = FSQL.Version();
}

size_t TFDQuery::ParamCount()
{
    Prepare();
    return FParams.size();
}

TFDParam& TFDQuery::Params(size_t AIndex)
{
    Prepare();
    return *FParams.at(AIndex);
}

TFDParam* TFDQuery::FindParam(std::string_view AName)
{
    Prepare();
    for (auto& p : FParams)
        if (AsciiSameText(p->Name(), AName))
            return p.get();
    return nullptr;
}

TFDParam& TFDQuery::ParamByName(std::string_view AName)
{
    if (TFDParam* p = FindParam(AName))
        return *p;
    throw Exception("Parameter '" + std::string(AName) + "' not found");
}

void TFDQuery::Run()
{
    if (!FConnection)
        throw Exception("The query has no connection");
    Prepare();
    FValues.resize(FPlaceholders.size());
    for (size_t i = 0; i < FPlaceholders.size(); ++i)
        FValues[i] = FParams[FPlaceholders[i]]->Value();
    FConnection->Execute(FStatement, FValues, FResult);
}

void TFDQuery::Open()
{
    Close();
    Run();
    FRowsAffected = FResult.RowsAffected;
    const std::vector<std::string>& columns = FResult.Columns;
    bool same = FSpareFields.size() == columns.size();
    for (size_t i = 0; same && i < columns.size(); ++i)
        same = FSpareFields[i]->FieldName() == columns[i];
    if (same) {
        FFields.swap(FSpareFields);
    } else {
        FSpareFields.clear();
        for (size_t i = 0; i < columns.size(); ++i)
            FFields.push_back(std::make_unique<TFDField>(*this, columns[i], i));
    }
    FRecNo = 0;
    FActive = true;
}

void TFDQuery::Close() noexcept
{
    if (!FFields.empty()) {
        FSpareFields.swap(FFields);
        FFields.clear();
    }
    FResult.Rows.clear();
    FRecNo = 0;
    FActive = false;
}

void TFDQuery::ExecSQL()
{
    Close();
    Run();
    FRowsAffected = FResult.RowsAffected;
    FResult.Rows.clear(); // a statement run this way leaves no result open
}

TFDField* TFDQuery::FindField(std::string_view AName)
{
    for (auto& f : FFields)
        if (SameColumnName(f->FieldName(), AName))
            return f.get();
    return nullptr;
}

TFDField& TFDQuery::FieldByName(std::string_view AName)
{
    if (TFDField* f = FindField(AName))
        return *f;
    throw Exception("Field '" + std::string(AName) + "' not found");
}

} // namespace platform
