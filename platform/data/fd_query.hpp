#pragma once
// A statement with named parameters (":name") run on a TFDConnection. Parameter values are
// bound as text through the server's prepared statements and never enter the statement text.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/fd_connection.hpp"

namespace platform {

class TFDQuery;

class TFDParam {
public:
    explicit TFDParam(std::string AName) : FName(std::move(AName)) {}
    const std::string& Name() const noexcept { return FName; }
    // Binds the parameter to the text.
    void AsString(std::string AValue) { FValue = std::move(AValue); }
    std::string AsString() const { return FValue.value_or(std::string()); }
    void Clear() noexcept { FValue.reset(); } // NULL
    bool IsNull() const noexcept { return !FValue; }
    const TFDValue& Value() const noexcept { return FValue; }

private:
    std::string FName;
    TFDValue FValue;
};

class TFDField {
public:
    TFDField(const TFDQuery& AQuery, std::string AName, size_t AIndex)
        : FQuery(&AQuery), FName(std::move(AName)), FIndex(AIndex)
    {
    }
    const std::string& FieldName() const noexcept { return FName; }
    // The value in the current row as text; NULL (or no current row) reads as "".
    std::string AsString() const;
    bool IsNull() const;

private:
    const TFDQuery* FQuery;
    std::string FName;
    size_t FIndex;
};

class TFDQuery : public TObject {
public:
    explicit TFDQuery(TFDConnection* AConnection = nullptr) : FConnection(AConnection) {}
    TFDQuery(const TFDQuery&) = delete;
    TFDQuery& operator=(const TFDQuery&) = delete;

    TFDConnection* Connection() const noexcept { return FConnection; }
    void SetConnection(TFDConnection* AConnection) noexcept { FConnection = AConnection; }

    // Statement text: the lines joined with CR LF. Changing it closes the query and
    // renews the parameter list from the new text.
    TFDStrings& SQL() noexcept { return FSQL; }

    // Parameters in the order they first appear in the text (outside quotes and comments),
    // names without letter case; the same name used twice is one parameter.
    size_t ParamCount();
    TFDParam& Params(size_t AIndex);
    // Raises Exception when the statement has no such parameter.
    TFDParam& ParamByName(std::string_view AName);
    TFDParam* FindParam(std::string_view AName);

    // Runs the statement and keeps its rows, positioned on the first. Raises
    // EFDDBEngineException with the server's message on a database error.
    void Open();
    void Close() noexcept;
    bool Active() const noexcept { return FActive; }
    // Runs a statement that returns no rows (INSERT, UPDATE, ...).
    void ExecSQL();
    uint64_t RowsAffected() const noexcept { return FRowsAffected; }

    bool IsEmpty() const noexcept { return FResult.Rows.empty(); }
    size_t RecordCount() const noexcept { return FResult.Rows.size(); }
    bool Eof() const noexcept { return FRecNo >= FResult.Rows.size(); }
    void First() noexcept { FRecNo = 0; }
    void Next() noexcept
    {
        if (FRecNo < FResult.Rows.size())
            ++FRecNo;
    }
    size_t FieldCount() const noexcept { return FFields.size(); }
    TFDField& Fields(size_t AIndex) { return *FFields.at(AIndex); }
    // Column by name, letter case ignored; raises Exception when the result has none.
    TFDField& FieldByName(std::string_view AName);
    TFDField* FindField(std::string_view AName);

private:
    friend class TFDField;
    void Prepare(); // parses the text when it changed
    void Run();     // into FResult

    TFDConnection* FConnection;
    TFDStrings FSQL;
    uint64_t FParsedVersion = ~uint64_t{0};
    std::vector<std::string> FParsedLines; // the lines FStatement was made from
    std::string FStatement;                // the text with each parameter replaced by "?"
    std::vector<size_t> FPlaceholders;     // parameter index of each "?", in order
    std::vector<std::unique_ptr<TFDParam>> FParams;
    std::vector<std::unique_ptr<TFDField>> FFields;
    // The fields of the last result, kept by Close: the next result with the same columns
    // takes them again instead of making new ones.
    std::vector<std::unique_ptr<TFDField>> FSpareFields;
    std::vector<TFDValue> FValues; // the values bound at the last run
    TFDResult FResult;             // columns and rows of the open result
    size_t FRecNo = 0;
    bool FActive = false;
    uint64_t FRowsAffected = 0;
};

// The statement text with every ":name" outside quotes and comments replaced by "?";
// ANames receives the names in order of appearance (repeats included).
std::string ReplaceSQLParams(std::string_view AText, std::vector<std::string>& ANames);

} // namespace platform
