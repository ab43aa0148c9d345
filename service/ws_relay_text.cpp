// The two text functions every product route shares.
#include <memory>
#include <mutex>
#include <vector>

#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include "platform/base/exception.hpp"
#include "service/ws_relay.hpp"

namespace service {

std::string TWsRelay::somentenumero(const std::string& snum)
{
    std::string out;
    out.reserve(snum.size());
    for (char c : snum)
        if (c >= '0' && c <= '9')
            out += c;
    return out;
}

namespace {

// Letters whose mark is part of the letter itself (no decomposition), mapped as the code page's
// best-fit table does.
char32_t StrokeLetterBase(char32_t ACodePoint)
{
    switch (ACodePoint) {
    case U'\u00D8': return U'O'; // Ø
    case U'\u00F8': return U'o'; // ø
    case U'\u0110': return U'D'; // Đ
    case U'\u0111': return U'd'; // đ
    case U'\u0126': return U'H'; // Ħ
    case U'\u0127': return U'h'; // ħ
    case U'\u0131': return U'i'; // ı
    case U'\u0141': return U'L'; // Ł
    case U'\u0142': return U'l'; // ł
    case U'\u0166': return U'T'; // Ŧ
    case U'\u0167': return U't'; // ŧ
    case U'\u0180': return U'b'; // ƀ
    case U'\u0197': return U'I'; // Ɨ
    case U'\u01B5': return U'Z'; // Ƶ
    case U'\u01B6': return U'z'; // ƶ
    default: return 0;
    }
}

// One transliterator, created once; ICU transliterators are not safe for concurrent use, so
// each call borrows a clone from a small pool (the threads that run requests come and go: a
// loop whose request blocks goes on in a new thread, so a clone per thread would be made again
// and again).
class TTransliteratorPool {
public:
    class TLease {
    public:
        TLease(TTransliteratorPool& APool, std::unique_ptr<icu::Transliterator> AItem)
            : FPool(APool), FItem(std::move(AItem))
        {
        }
        ~TLease() { FPool.Give(std::move(FItem)); }
        TLease(const TLease&) = delete;
        TLease& operator=(const TLease&) = delete;
        icu::Transliterator& operator*() const { return *FItem; }

    private:
        TTransliteratorPool& FPool;
        std::unique_ptr<icu::Transliterator> FItem;
    };

    TLease Take()
    {
        {
            std::lock_guard lock(FLock);
            if (!FFree.empty()) {
                auto item = std::move(FFree.back());
                FFree.pop_back();
                return TLease(*this, std::move(item));
            }
        }
        std::call_once(FOnce, [this] {
            UErrorCode status = U_ZERO_ERROR;
            FPrototype.reset(
                icu::Transliterator::createInstance("NFD; [:Nonspacing Mark:] Remove; NFC", UTRANS_FORWARD, status));
            if (U_FAILURE(status))
                FPrototype.reset();
        });
        if (!FPrototype)
            throw platform::Exception("Text transliteration is not available");
        return TLease(*this, std::unique_ptr<icu::Transliterator>(FPrototype->clone()));
    }

private:
    void Give(std::unique_ptr<icu::Transliterator> AItem)
    {
        if (!AItem)
            return;
        std::lock_guard lock(FLock);
        if (FFree.size() < 64)
            FFree.push_back(std::move(AItem));
    }

    std::once_flag FOnce;
    std::unique_ptr<icu::Transliterator> FPrototype;
    std::mutex FLock;
    std::vector<std::unique_ptr<icu::Transliterator>> FFree;
};

TTransliteratorPool& Transliterators()
{
    static TTransliteratorPool pool;
    return pool;
}

// What the transliteration below makes of U+00C0..U+00FF: the letter without its marks, '?'
// where the letter has no mark to drop and stays outside 7 bits (Æ, Ð, ×, Þ, ß, æ, ð, ÷, þ).
// Ø and ø are stroke letters. Product names are ASCII or Portuguese, so this spares ICU nearly
// always; tests hold it to what ICU gives.
constexpr char KLatin1Letters[] = "AAAAAA?CEEEEIIII?NOOOOO?OUUUUY??aaaaaa?ceeeeiiii?nooooo?ouuuuy?y";
static_assert(sizeof(KLatin1Letters) == 64 + 1);

// The same as removeacento for text made of ASCII and U+0080..U+00FF only; false (and AOut
// unfinished) for anything else, malformed UTF-8 included.
bool RemoveAcentoLatin1(const std::string& AText, std::string& AOut)
{
    AOut.clear();
    AOut.reserve(AText.size());
    const size_t n = AText.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(AText[i]);
        if (c < 0x80) {
            AOut += static_cast<char>(c);
            continue;
        }
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= n)
            return false;
        const unsigned char next = static_cast<unsigned char>(AText[i + 1]);
        if ((next & 0xC0) != 0x80)
            return false;
        // U+0080..U+00BF (controls, signs) have no decomposition: one '?' each.
        AOut += c == 0xC2 ? '?' : KLatin1Letters[next - 0x80];
        ++i;
    }
    return true;
}

} // namespace

std::string TWsRelay::removeacento(const std::string& ptext)
{
    bool ascii = true;
    for (unsigned char c : ptext)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return ptext;

    std::string out;
    if (RemoveAcentoLatin1(ptext, out))
        return out;

    icu::UnicodeString text = icu::UnicodeString::fromUTF8(ptext);
    // Stroke letters first: the transliterator leaves them alone.
    for (int32_t i = 0; i < text.length(); ++i)
        if (char32_t base = StrokeLetterBase(text.charAt(i)))
            text.setCharAt(i, static_cast<char16_t>(base));
    {
        auto lease = Transliterators().Take();
        (*lease).transliterate(text);
    }

    out.clear();
    out.reserve(static_cast<size_t>(text.length()));
    for (int32_t i = 0; i < text.length(); ++i) {
        char16_t u = text.charAt(i);
        out += u < 0x80 ? static_cast<char>(u) : '?';
    }
    return out;
}

} // namespace service
