#pragma once
// The bracket-operator values of one field: "price[gte]=10&price[lte]=20" read for "price".
#include <string>

#include "framework/relay/commons.hpp"
#include "platform/base/object.hpp"

namespace relay {

class TRelayCoreParamFieldLhsBrackets : public platform::TObject {
public:
    TRelayCoreParamFieldLhsBrackets() = default;

    // Stores the value of the operator; Types is not changed.
    void SetValue(TLhsBracketsType AType, std::string AValue);
    const std::string& GetValue(TLhsBracketsType AType) const noexcept;

    const std::string& Eq() const noexcept { return FEq; }
    const std::string& Ne() const noexcept { return FNe; }
    const std::string& Lt() const noexcept { return FLt; }
    const std::string& Lte() const noexcept { return FLte; }
    const std::string& Gt() const noexcept { return FGt; }
    const std::string& Gte() const noexcept { return FGte; }
    const std::string& Range() const noexcept { return FRange; }
    const std::string& Like() const noexcept { return FLike; }
    const std::string& Contains() const noexcept { return FContains; }
    const std::string& StartsWith() const noexcept { return FStartsWith; }
    const std::string& EndsWith() const noexcept { return FEndsWith; }

    // The operators that were found.
    TLhsBrackets Types() const noexcept { return FTypes; }
    void Types(TLhsBrackets AValue) noexcept { FTypes = AValue; }

private:
    std::string& Slot(TLhsBracketsType AType) noexcept;

    std::string FEq;
    std::string FNe;
    std::string FLt;
    std::string FLte;
    std::string FGt;
    std::string FGte;
    std::string FRange;
    std::string FLike;
    TLhsBrackets FTypes;
    std::string FContains;
    std::string FStartsWith;
    std::string FEndsWith;
};

} // namespace relay
