#include "framework/relay/core/param/field/brackets.hpp"

namespace relay {

std::string& TRelayCoreParamFieldLhsBrackets::Slot(TLhsBracketsType AType) noexcept
{
    switch (AType) {
    case TLhsBracketsType::Equal: return FEq;
    case TLhsBracketsType::NotEqual: return FNe;
    case TLhsBracketsType::LessThan: return FLt;
    case TLhsBracketsType::LessThanOrEqual: return FLte;
    case TLhsBracketsType::GreaterThan: return FGt;
    case TLhsBracketsType::GreaterThanOrEqual: return FGte;
    case TLhsBracketsType::Range: return FRange;
    case TLhsBracketsType::Like: return FLike;
    case TLhsBracketsType::Contains: return FContains;
    case TLhsBracketsType::StartsWith: return FStartsWith;
    case TLhsBracketsType::EndsWith: return FEndsWith;
    }
    return FEq;
}

void TRelayCoreParamFieldLhsBrackets::SetValue(TLhsBracketsType AType, std::string AValue)
{
    Slot(AType) = std::move(AValue);
}

const std::string& TRelayCoreParamFieldLhsBrackets::GetValue(TLhsBracketsType AType) const noexcept
{
    return const_cast<TRelayCoreParamFieldLhsBrackets*>(this)->Slot(AType);
}

} // namespace relay
