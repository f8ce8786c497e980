// A property-set stream that parses once must decode each value when it is read and parse again to the same
// properties after either re-serialisation.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Win32Api.h"
#include "posix/storage/props/PropertySetStream.h"
#include "posix/storage/props/TypedValueCodec.h"

using namespace quorvane::posix;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  PropertySetStream stream;
  if (FAILED(PropertySetStream::Parse(bytes, stream))) return 0;
  for (const PropertySection& section : stream.Sections()) {
    for (const SectionProperty& p : section.Properties()) {
      Check(p.value.size() >= 4);
      const uint16_t vt = static_cast<uint16_t>(p.value[0] | (p.value[1] << 8));
      if (!IsInterpretedType(vt)) continue;
      PROPVARIANT value;
      size_t used = 0;
      // Values only measured when the section was parsed decode when read, to the length measured.
      Check(SUCCEEDED(DecodeTypedValue(p.value.data(), p.value.size(), TextCodePages{section.CodePage(), CP_UTF8},
                                       value, used)));
      Check(used == p.value.size());
      std::vector<uint8_t> encoded;
      const HRESULT hr = EncodeTypedValue(value, TextCodePages{CP_UTF8, CP_UTF8}, encoded);
      Check(SUCCEEDED(hr) || hr == kTextNotRepresentable);
      PropVariantClear(&value);
    }
  }
  Check(stream.Serialize() == bytes);
  const std::vector<uint8_t> relaid = stream.Serialize(true);
  PropertySetStream again;
  Check(SUCCEEDED(PropertySetStream::Parse(relaid, again)));
  Check(again.Sections().size() == stream.Sections().size());
  for (size_t s = 0; s < stream.Sections().size(); ++s) {
    const auto &a = stream.Sections()[s], &b = again.Sections()[s];
    Check(a.Properties().size() == b.Properties().size() && a.Names().size() == b.Names().size());
    for (size_t i = 0; i < a.Properties().size(); ++i) Check(a.Properties()[i].id == b.Properties()[i].id);
  }
  Check(again.Serialize(true) == relaid);
  return 0;
}
