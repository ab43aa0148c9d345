#include "platform/data/fd_query.hpp"

#include "platform/text/ascii.hpp"
#include "platform/text/compare.hpp"

namespace platform {

namespace {

bool IsNameStart(char C) noexcept
{
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
}
bool IsNameChar(char C) noexcept
{
    return IsNameStart(C) || (C >= '0' && C <= '9');
}

bool HasNonAscii(std::string_view AText) noexcept
{
    for (unsigned char C : AText)
        if (C >= 0x80)
            return true;
    return false;
}

// Column names ignore letter case, also beyond ASCII ("DESCRIÇÃO" is "descrição").
bool SameColumnName(std::string_view A, std::string_view B)
{
    if (AsciiSameText(A, B))
        return true;
    return (HasNonAscii(A) || HasNonAscii(B)) && SameTextLocale(A, B);
}

} // namespace

std::string ReplaceSQLParams(std::string_view AText, std::vector<std::string>& ANames)
{
    std::string Out;
    Out.reserve(AText.size());
    const size_t N = AText.size();
    size_t I = 0;
    auto CopyQuoted = [&](char AQuote) {
        // From the opening quote through the closing one; a doubled quote or (except in
        // identifiers) a backslash escape stays inside.
        Out += AText[I++];
        while (I < N) {
            char C = AText[I];
            if (C == '\\' && AQuote != '`' && I + 1 < N) {
                Out += C;
                Out += AText[I + 1];
                I += 2;
                continue;
            }
            Out += C;
            ++I;
            if (C == AQuote) {
                if (I < N && AText[I] == AQuote) {
                    Out += AText[I++];
                    continue;
                }
                return;
            }
        }
    };
    while (I < N) {
        const char C = AText[I];
        if (C == '\'' || C == '"' || C == '`') {
            CopyQuoted(C);
        } else if (C == '#' || (C == '-' && I + 1 < N && AText[I + 1] == '-' &&
                                (I + 2 >= N || static_cast<unsigned char>(AText[I + 2]) <= ' '))) {
            while (I < N && AText[I] != '\n')
                Out += AText[I++];
        } else if (C == '/' && I + 1 < N && AText[I + 1] == '*') {
            size_t End = AText.find("*/", I + 2);
            End = End == std::string_view::npos ? N : End + 2;
            Out.append(AText.substr(I, End - I));
            I = End;
        } else if (C == ':' && I + 1 < N && IsNameStart(AText[I + 1]) &&
                   (I == 0 || (!IsNameChar(AText[I - 1]) && AText[I - 1] != ':'))) {
            size_t End = I + 1;
            while (End < N && IsNameChar(AText[End]))
                ++End;
            ANames.emplace_back(AText.substr(I + 1, End - I - 1));
            Out += '?';
            I = End;
        } else {
            Out += C;
            ++I;
        }
    }
    return Out;
}

// ---- TFDField ------------------------------------------------------------------------------

std::string TFDField::AsString() const
{
    if (FQuery->Eof())
        return {};
    const TFDValue& V = FQuery->FResult.Rows[FQuery->FRecNo].at(FIndex);
    return V ? *V : std::string();
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
        for (auto& P : FParams)
            P->Clear();
        FParsedVersion = FSQL.Version();
        return;
    }
    std::vector<std::string> Names;
    FStatement = ReplaceSQLParams(FSQL.Text(), Names);
    FParams.clear();
    FPlaceholders.clear();
    for (auto& Name : Names) {
        size_t Index = FParams.size();
        for (size_t K = 0; K < FParams.size(); ++K)
            if (AsciiSameText(FParams[K]->Name(), Name)) {
                Index = K;
                break;
            }
        if (Index == FParams.size())
            FParams.push_back(std::make_unique<TFDParam>(std::move(Name)));
        FPlaceholders.push_back(Index);
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
    for (auto& P : FParams)
        if (AsciiSameText(P->Name(), AName))
            return P.get();
    return nullptr;
}

TFDParam& TFDQuery::ParamByName(std::string_view AName)
{
    if (TFDParam* P = FindParam(AName))
        return *P;
    throw Exception("Parameter '" + std::string(AName) + "' not found");
}

void TFDQuery::Run()
{
    if (!FConnection)
        throw Exception("The query has no connection");
    Prepare();
    FValues.resize(FPlaceholders.size());
    for (size_t I = 0; I < FPlaceholders.size(); ++I)
        FValues[I] = FParams[FPlaceholders[I]]->Value();
    FConnection->Execute(FStatement, FValues, FResult);
}

void TFDQuery::Open()
{
    Close();
    Run();
    FRowsAffected = FResult.RowsAffected;
    const std::vector<std::string>& Columns = FResult.Columns;
    bool Same = FSpareFields.size() == Columns.size();
    for (size_t I = 0; Same && I < Columns.size(); ++I)
        Same = FSpareFields[I]->FieldName() == Columns[I];
    if (Same) {
        FFields.swap(FSpareFields);
    } else {
        FSpareFields.clear();
        for (size_t I = 0; I < Columns.size(); ++I)
            FFields.push_back(std::make_unique<TFDField>(*this, Columns[I], I));
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
    for (auto& F : FFields)
        if (SameColumnName(F->FieldName(), AName))
            return F.get();
    return nullptr;
}

TFDField& TFDQuery::FieldByName(std::string_view AName)
{
    if (TFDField* F = FindField(AName))
        return *F;
    throw Exception("Field '" + std::string(AName) + "' not found");
}

} // namespace platform
