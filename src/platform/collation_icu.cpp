// The Polish collation by ICU.
#include "platform/collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <stdexcept>

namespace borvantel::platform {
namespace {

const icu::Collator& polishCollator() {
  static const std::unique_ptr<icu::Collator> collator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale("pl", "PL"), status));
    if (U_FAILURE(status) || !c) throw std::runtime_error("ICU: no Polish collator");
    // Secondary strength: accents count (ą after a), case does not.
    c->setStrength(icu::Collator::SECONDARY);
    return c;
  }();
  return *collator;
}

}  // namespace

std::string polishSortKey(std::string_view utf8) {
  const icu::UnicodeString text =
      icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  const icu::Collator& coll = polishCollator();
  std::string key(64, '\0');
  int32_t n = coll.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  if (n > static_cast<int32_t>(key.size())) {
    key.resize(static_cast<size_t>(n));
    n = coll.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  }
  key.resize(static_cast<size_t>(n));
  if (!key.empty() && key.back() == '\0') key.pop_back();
  return key;
}

}  // namespace borvantel::platform
