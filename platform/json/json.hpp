#pragma once
// JSON object model: parsed request bodies and JSON answers. Objects keep their members in
// insertion order (duplicates too; lookups find the first). Strings are UTF-8.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/object.hpp"

namespace platform {

class TJSONValue : public TObject {
public:
    enum class TKind : uint8_t { Object, Array, String, Number, True, False, Null };

    virtual TKind Kind() const noexcept = 0;
    // Text value: a string its characters, a number its decimal text, true/false/null the
    // words, an object or array the empty text.
    virtual std::string Value() const = 0;
    // Compact JSON text: no white space, members in order, "\"", "\\" and "/" escaped,
    // \b \t \n \f \r short, every other character below 32 or above 127 as \uXXXX
    // (upper-case hex of its UTF-16 units). The result is plain ASCII.
    std::string ToJSON() const;
    virtual void WriteJSON(std::string& AOut) const = 0;
    virtual std::unique_ptr<TJSONValue> Clone() const = 0;
};

class TJSONString : public TJSONValue {
public:
    explicit TJSONString(std::string AValue) : FValue(std::move(AValue)) {}
    TKind Kind() const noexcept override { return TKind::String; }
    std::string Value() const override { return FValue; }
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;

private:
    std::string FValue;
};

// A number keeps the text it was parsed from (or made from).
class TJSONNumber : public TJSONValue {
public:
    explicit TJSONNumber(std::string AText);
    explicit TJSONNumber(int64_t AValue);
    explicit TJSONNumber(double AValue);
    TKind Kind() const noexcept override { return TKind::Number; }
    // A whole number gives its digits; one with a fraction or exponent passes through
    // floating point and is written with up to 15 significant digits and the locale's
    // decimal separator.
    std::string Value() const override;
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;
    const std::string& Text() const noexcept { return FText; }

private:
    std::string FText;
};

class TJSONBool : public TJSONValue {
public:
    explicit TJSONBool(bool AValue) : FValue(AValue) {}
    TKind Kind() const noexcept override { return FValue ? TKind::True : TKind::False; }
    std::string Value() const override { return FValue ? "true" : "false"; }
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;
    bool AsBoolean() const noexcept { return FValue; }

private:
    bool FValue;
};

class TJSONTrue : public TJSONBool {
public:
    TJSONTrue() : TJSONBool(true) {}
};

class TJSONFalse : public TJSONBool {
public:
    TJSONFalse() : TJSONBool(false) {}
};

class TJSONNull : public TJSONValue {
public:
    TKind Kind() const noexcept override { return TKind::Null; }
    std::string Value() const override { return "null"; }
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;
};

class TJSONArray : public TJSONValue {
public:
    TKind Kind() const noexcept override { return TKind::Array; }
    std::string Value() const override { return {}; }
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;

    size_t Count() const noexcept { return FItems.size(); }
    const TJSONValue* Items(size_t AIndex) const { return FItems.at(AIndex).get(); }
    TJSONArray& Add(std::unique_ptr<TJSONValue> AValue);

private:
    std::vector<std::unique_ptr<TJSONValue>> FItems;
};

class TJSONObject : public TJSONValue {
public:
    using TPair = std::pair<std::string, std::unique_ptr<TJSONValue>>;

    TKind Kind() const noexcept override { return TKind::Object; }
    std::string Value() const override { return {}; }
    void WriteJSON(std::string& AOut) const override;
    std::unique_ptr<TJSONValue> Clone() const override;

    // Appends a member (an existing member of that name stays; lookups find the first).
    TJSONObject& AddPair(std::string AName, std::unique_ptr<TJSONValue> AValue);
    TJSONObject& AddPair(std::string AName, std::string AValue); // string member
    size_t Count() const noexcept { return FPairs.size(); }
    const TPair& Pairs(size_t AIndex) const { return FPairs.at(AIndex); }
    // First member of exactly that name (case-sensitive), or null.
    const TJSONValue* GetValue(std::string_view AName) const noexcept;

    // Parses one JSON value that ends where the text ends (white space after an object or
    // array is accepted, after a scalar it is not). Arrays and objects nested deeper than 64
    // levels, and lone UTF-16 surrogates in \u escapes, count as malformed. With ARaiseExc
    // false a malformed text gives null; with it true, Exception. AUseBool is accepted for the
    // model's sake: true and false always parse as TJSONTrue / TJSONFalse.
    static std::unique_ptr<TJSONValue> ParseJSONValue(std::string_view AText, bool AUseBool = false,
                                                      bool ARaiseExc = false);

private:
    std::vector<TPair> FPairs;
};

// Appends AText as a JSON string literal (quotes included) with the escaping of ToJSON.
void AppendJSONString(std::string& AOut, std::string_view AText);

} // namespace platform
