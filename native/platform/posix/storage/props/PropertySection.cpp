#include "PropertySection.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "../../text/CodePages.h"
#include "../../text/StringCompare.h"
#include "ByteCursor.h"
#include "PropertySetFormat.h"
#include "TypedValueCodec.h"

namespace quorvane {
namespace posix {

namespace {

using namespace oleps;

// The stored name up to its terminator, as wide text.
std::wstring DecodeName(const std::string& stored, UINT codePage) {
  size_t n = 0;
  if (codePage == kCodePageUnicode) {
    while (n + 1 < stored.size() && (stored[n] | stored[n + 1]) != 0) n += 2;
  } else {
    while (n < stored.size() && stored[n] != 0) ++n;
  }
  std::wstring wide;
  DecodeFromCodePage(codePage, stored.data(), n, wide, false);
  return wide;
}

HRESULT EncodeName(const std::wstring& name, UINT codePage, std::string& stored) {
  if (!EncodeToCodePage(codePage, name.data(), name.size(), stored, true)) return kTextNotRepresentable;
  stored.append(codePage == kCodePageUnicode ? 2 : 1, '\0');
  return S_OK;
}

// The code page a CodePage property holds: a 16-bit value (65001 is stored
// as -535) or, from lenient writers, a 32-bit one.
bool CodePageOfValue(const SharedBytes& value, UINT& codePage) {
  ByteReader r(value.data(), value.size());
  uint16_t vt, pad;
  if (!r.ReadU16(vt) || !r.ReadU16(pad)) return false;
  if (vt == VT_I2 || vt == VT_UI2) {
    uint16_t v;
    if (!r.ReadU16(v)) return false;
    codePage = v;
    return true;
  }
  if (vt == VT_I4 || vt == VT_UI4) {
    uint32_t v;
    if (!r.ReadU32(v)) return false;
    codePage = v & 0xFFFF;
    return true;
  }
  return false;
}

HRESULT ParseDictionary(const uint8_t* data, size_t size, UINT codePage, std::vector<DictionaryEntry>& out) {
  ByteReader r(data, size);
  uint32_t count;
  if (!r.ReadU32(count) || count > r.Remaining() / kDictionaryEntryHeaderSize) return STG_E_DOCFILECORRUPT;
  const size_t unit = codePage == kCodePageUnicode ? 2 : 1;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id, length;
    if (!r.ReadU32(id) || !r.ReadU32(length) || length > r.Remaining() / unit) return STG_E_DOCFILECORRUPT;
    DictionaryEntry entry{id, {}, std::string(reinterpret_cast<const char*>(r.Here()), length * unit)};
    r.Skip(length * unit);
    if (unit == 2) r.SkipZeroPaddingFrom(0);  // Unicode names are padded to 4 bytes
    entry.name = DecodeName(entry.stored, codePage);
    out.push_back(std::move(entry));
  }
  return S_OK;
}

}  // namespace

HRESULT PropertySection::Parse(const FMTID& fmtid, const SharedBuffer& stream, size_t offset, PropertySection& out) {
  const SharedBytes whole(stream, offset, stream->size() - offset);
  const uint8_t* data = whole.data();
  const size_t size = whole.size();
  ByteReader r(data, size);
  uint32_t sectionSize, count;
  if (!r.ReadU32(sectionSize) || !r.ReadU32(count)) return STG_E_DOCFILECORRUPT;
  if (sectionSize > size || sectionSize < kSectionTableOffset) return STG_E_DOCFILECORRUPT;
  if (count > (sectionSize - kSectionTableOffset) / kIdOffsetPairSize) return STG_E_DOCFILECORRUPT;

  struct Slot {
    PROPID id;
    uint32_t offset;
  };
  std::vector<Slot> table(count);
  for (Slot& slot : table) {
    r.ReadU32(slot.id);
    r.ReadU32(slot.offset);
    if (slot.offset > sectionSize - kTypedValueHeaderSize || slot.offset < kSectionTableOffset)
      return STG_E_DOCFILECORRUPT;
  }
  {
    std::vector<PROPID> ids;
    for (const Slot& s : table) ids.push_back(s.id);
    std::sort(ids.begin(), ids.end());
    if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) return STG_E_DOCFILECORRUPT;
  }
  // Values we do not interpret run to the next value or the section's end.
  std::vector<uint32_t> starts;
  for (const Slot& s : table) starts.push_back(s.offset);
  starts.push_back(sectionSize);
  std::sort(starts.begin(), starts.end());
  auto extentOf = [&](uint32_t offset) {
    return *std::upper_bound(starts.begin(), starts.end(), offset) - offset;
  };

  PropertySection section;
  section.fmtid_ = fmtid;
  section.codePage_ = kDefaultCodePage;
  for (const Slot& slot : table) {
    if (slot.id != PID_CODEPAGE) continue;
    UINT cp;
    if (CodePageOfValue(whole.Window(slot.offset, std::min<size_t>(8, sectionSize - slot.offset)), cp))
      section.codePage_ = cp;
  }
  for (const Slot& slot : table) {
    const uint8_t* at = data + slot.offset;
    const size_t room = sectionSize - slot.offset;
    if (slot.id == PID_DICTIONARY) {
      section.hasDictionary_ = true;
      const HRESULT hr = ParseDictionary(at, room, section.codePage_, section.names_);
      if (FAILED(hr)) return hr;
      continue;
    }
    const uint16_t vt = static_cast<uint16_t>(at[0] | (at[1] << 8));
    // Overlapping offsets give short extents; a value keeps at least its type.
    size_t length = std::max<size_t>(extentOf(slot.offset), kTypedValueHeaderSize);
    // Checked for shape here, decoded only when read.
    if (IsInterpretedType(vt) && FAILED(MeasureTypedValue(at, room, length))) return STG_E_DOCFILECORRUPT;
    section.properties_.push_back({slot.id, whole.Window(slot.offset, length)});
  }
  section.original_ = whole.Window(0, sectionSize);
  section.modified_ = false;
  section.Reindex();
  out = std::move(section);
  return S_OK;
}

bool PropertySection::Unread(PROPID id) const {
  return std::find(unread_.begin(), unread_.end(), id) != unread_.end();
}

PropertySection PropertySection::Create(const FMTID& fmtid, UINT codePage, bool caseSensitive) {
  PropertySection section;
  section.fmtid_ = fmtid;
  section.SetCodePageProperty(codePage);
  if (caseSensitive) {
    std::vector<uint8_t> behavior;
    ByteWriter w(behavior);
    w.U16(VT_UI4);
    w.U16(0);
    w.U32(PROPSET_BEHAVIOR_CASE_SENSITIVE);
    section.Set(PID_BEHAVIOR, std::move(behavior));
  }
  return section;
}

std::vector<uint8_t> PropertySection::Serialize(bool forceRelayout) const {
  std::vector<uint8_t> out;
  AppendTo(out, forceRelayout);
  return out;
}

void PropertySection::AppendTo(std::vector<uint8_t>& out, bool forceRelayout) const {
  if (!modified_ && !forceRelayout && !original_.empty()) {
    out.insert(out.end(), original_.data(), original_.data() + original_.size());
    return;
  }
  const size_t start = out.size();
  out.reserve(start + LayoutSize());
  const bool writeDictionary = hasDictionary_ || !names_.empty();
  const uint32_t count = static_cast<uint32_t>(properties_.size() + (writeDictionary ? 1 : 0));
  ByteWriter w(out);
  w.U32(0);
  w.U32(count);
  const size_t table = w.Position();
  out.resize(table + count * kIdOffsetPairSize);
  size_t slot = 0;
  auto beginValue = [&](PROPID id) {
    w.PatchU32(table + slot * kIdOffsetPairSize, id);
    w.PatchU32(table + slot * kIdOffsetPairSize + 4, static_cast<uint32_t>(w.Position() - start));
    ++slot;
  };
  if (writeDictionary) {
    beginValue(PID_DICTIONARY);
    const size_t origin = w.Position();
    const size_t unit = codePage_ == kCodePageUnicode ? 2 : 1;
    w.U32(static_cast<uint32_t>(names_.size()));
    for (const DictionaryEntry& entry : names_) {
      w.U32(entry.id);
      w.U32(static_cast<uint32_t>(entry.stored.size() / unit));
      w.Raw(entry.stored.data(), entry.stored.size());
      if (unit == 2) w.PadTo4From(origin);
    }
    w.PadTo4From(origin);
  }
  for (const SectionProperty& property : properties_) {
    beginValue(property.id);
    const size_t origin = w.Position();
    w.Raw(property.value.data(), property.value.size());
    w.PadTo4From(origin);
  }
  w.PatchU32(start, static_cast<uint32_t>(out.size() - start));
}

void PropertySection::Rebase(const SharedBuffer& stream, size_t offset) {
  const SharedBytes whole(stream, offset, stream->size() - offset);
  ByteReader r(whole.data(), whole.size());
  uint32_t size = 0, count = 0;
  r.ReadU32(size);
  r.ReadU32(count);
  size_t next = 0;  // the table lists the values in their order here
  for (uint32_t slot = 0; slot < count; ++slot) {
    uint32_t id = 0, at = 0;
    r.ReadU32(id);
    r.ReadU32(at);
    if (id == PID_DICTIONARY) {
      hasDictionary_ = true;
      continue;
    }
    size_t position = next;
    if (position >= properties_.size() || properties_[position].id != id) {
      const auto found = valueAt_.find(id);
      if (found == valueAt_.end()) continue;
      position = found->second;
    }
    next = position + 1;
    SharedBytes& value = properties_[position].value;
    value = whole.Window(at, value.size());
  }
  original_ = whole.Window(0, size);
  modified_ = false;
}

size_t PropertySection::SerializedSize() const {
  return !modified_ && !original_.empty() ? original_.size() : LayoutSize();
}

size_t PropertySection::LayoutSize() const {
  const bool writeDictionary = hasDictionary_ || !names_.empty();
  const size_t count = properties_.size() + (writeDictionary ? 1 : 0);
  size_t size = kSectionTableOffset + count * kIdOffsetPairSize + valueBytes_;
  if (writeDictionary) {
    const size_t dictionary = sizeof(uint32_t) + nameBytes_;
    size += dictionary + PaddingTo4(dictionary);
  }
  return size;
}

size_t PropertySection::EntryBytes(const DictionaryEntry& entry) const {
  const size_t stored = entry.stored.size();
  return kDictionaryEntryHeaderSize + stored + (codePage_ == kCodePageUnicode ? PaddingTo4(stored) : 0);
}

namespace {

size_t PaddedSize(size_t size) { return size + PaddingTo4(size); }

bool BehaviorIsCaseSensitive(const SharedBytes& value) {
  ByteReader r(value.data(), value.size());
  uint16_t vt, pad;
  uint32_t flags;
  return r.ReadU16(vt) && r.ReadU16(pad) && vt == VT_UI4 && r.ReadU32(flags) &&
         (flags & PROPSET_BEHAVIOR_CASE_SENSITIVE);
}

}  // namespace

const std::wstring& PropertySection::KeyOf(const std::wstring& name, std::wstring& scratch) const {
  if (caseSensitive_) return name;
  scratch.assign(name);
  for (wchar_t& c : scratch) c = FoldCase(c);
  return scratch;
}

void PropertySection::Reindex() {
  valueAt_.clear();
  valueAt_.reserve(properties_.size());
  valueBytes_ = 0;
  for (size_t i = 0; i < properties_.size(); ++i) {
    valueAt_[properties_[i].id] = i;
    valueBytes_ += PaddedSize(properties_[i].value.size());
  }
  const SectionProperty* codePage = Find(PID_CODEPAGE);
  UINT cp = kDefaultCodePage;
  if (codePage) CodePageOfValue(codePage->value, cp);
  codePage_ = cp;
  const SectionProperty* behavior = Find(PID_BEHAVIOR);
  caseSensitive_ = behavior && BehaviorIsCaseSensitive(behavior->value);

  nameAt_.clear();
  idOfName_.Clear();
  nameAt_.reserve(names_.size());
  idOfName_.Reserve(names_.size());
  nameBytes_ = 0;
  std::wstring scratch;
  for (size_t i = 0; i < names_.size(); ++i) {
    nameAt_.emplace(names_[i].id, i);  // the first entry wins, as a scan would find it
    idOfName_.Emplace(KeyOf(names_[i].name, scratch), names_[i].id);
    nameBytes_ += EntryBytes(names_[i]);
  }
  irregularNames_ = nameAt_.size() != names_.size() || idOfName_.Size() != names_.size();
  freeFrom_ = freeAt_ = 0;
}

void PropertySection::Record(Undo::Kind kind, size_t position, const SectionProperty* value,
                             const DictionaryEntry* name) {
  if (!journaling_) return;
  journal_.emplace_back();
  Undo& step = journal_.back();
  step.kind = kind;
  step.position = position;
  if (value) step.value = *value;
  if (name) step.name = *name;
  if (kind == Undo::kWhole) {
    step.values = properties_;
    step.names = names_;
  }
}

void PropertySection::Freed(PROPID id) const {
  if (freeFrom_ != 0 && id >= freeFrom_ && id < freeAt_) freeAt_ = id;
}

void PropertySection::ShiftValuePositions(size_t from) {
  for (size_t i = from; i < properties_.size(); ++i) valueAt_[properties_[i].id] = i;
}

void PropertySection::ShiftNamePositions(size_t from) {
  if (irregularNames_) return;  // rebuilt by the caller
  for (size_t i = from; i < names_.size(); ++i) nameAt_[names_[i].id] = i;
}

bool PropertySection::HasCodePage() const { return Find(PID_CODEPAGE) != nullptr; }

const SectionProperty* PropertySection::Find(PROPID id) const {
  auto at = valueAt_.find(id);
  return at == valueAt_.end() ? nullptr : &properties_[at->second];
}

bool PropertySection::Holds(PROPID id, const std::vector<uint8_t>& encoded) const {
  const SectionProperty* p = Find(id);
  if (!p) return false;
  const size_t shorter = std::min(p->value.size(), encoded.size());
  if (PaddedSize(p->value.size()) != PaddedSize(encoded.size()) || std::memcmp(p->value.data(), encoded.data(), shorter) != 0)
    return false;
  // Parsed values end before their padding, encoded ones after it.
  const uint8_t* rest = p->value.size() > shorter ? p->value.data() + shorter : encoded.data() + shorter;
  return std::all_of(rest, rest + (std::max(p->value.size(), encoded.size()) - shorter), [](uint8_t b) { return b == 0; });
}

void PropertySection::Set(PROPID id, std::vector<uint8_t> value) {
  modified_ = true;
  auto at = valueAt_.find(id);
  if (at != valueAt_.end()) {
    SectionProperty& p = properties_[at->second];
    valueBytes_ = valueBytes_ - PaddedSize(p.value.size()) + PaddedSize(value.size());
    if (journaling_) {
      Record(Undo::kValueSet, at->second, nullptr, nullptr);
      journal_.back().value = {id, std::move(p.value)};  // the old value goes to the journal, uncopied
    }
    p.value = std::move(value);
  } else {
    Record(Undo::kValueAdded, properties_.size(), nullptr, nullptr);
    valueBytes_ += PaddedSize(value.size());
    properties_.push_back({id, std::move(value)});
    valueAt_[id] = properties_.size() - 1;
  }
  if (id == PID_CODEPAGE || id == PID_BEHAVIOR) Reindex();
}

bool PropertySection::Remove(PROPID id) {
  auto at = valueAt_.find(id);
  if (at == valueAt_.end()) return false;
  const size_t position = at->second;
  valueAt_.erase(at);
  valueBytes_ -= PaddedSize(properties_[position].value.size());
  Record(Undo::kValueRemoved, position, &properties_[position], nullptr);
  properties_.erase(properties_.begin() + static_cast<std::ptrdiff_t>(position));
  ShiftValuePositions(position);
  modified_ = true;
  Freed(id);
  if (id == PID_CODEPAGE || id == PID_BEHAVIOR) Reindex();
  return true;
}

void PropertySection::RemoveAll(const std::unordered_set<PROPID>& ids) {
  if (ids.empty()) return;
  Record(Undo::kWhole, 0, nullptr, nullptr);
  const size_t values = properties_.size(), names = names_.size();
  properties_.erase(std::remove_if(properties_.begin(), properties_.end(),
                                   [&](const SectionProperty& p) { return ids.count(p.id) != 0; }),
                    properties_.end());
  names_.erase(std::remove_if(names_.begin(), names_.end(),
                              [&](const DictionaryEntry& e) { return ids.count(e.id) != 0; }),
               names_.end());
  if (properties_.size() == values && names_.size() == names) return;
  modified_ = true;
  Reindex();
}

bool PropertySection::FindName(const wchar_t* name, PROPID& id) const {
  thread_local std::wstring key;  // a lookup per written property: no allocation each
  key.assign(name);
  if (!caseSensitive_)
    for (wchar_t& c : key) c = FoldCase(c);
  return idOfName_.Find(key, id);
}

const std::wstring* PropertySection::NameOf(PROPID id) const {
  auto at = nameAt_.find(id);
  return at == nameAt_.end() ? nullptr : &names_[at->second].name;
}

HRESULT PropertySection::SetName(PROPID id, const std::wstring& name) {
  std::string stored;
  const HRESULT hr = EncodeName(name, codePage_, stored);
  if (FAILED(hr)) return hr;
  modified_ = true;
  std::wstring scratch;
  auto at = nameAt_.find(id);
  if (at != nameAt_.end()) {
    DictionaryEntry& entry = names_[at->second];
    Record(Undo::kNameSet, at->second, nullptr, &entry);
    idOfName_.EraseIf(KeyOf(entry.name, scratch), id);
    nameBytes_ -= EntryBytes(entry);
    entry.name = name;
    entry.stored = std::move(stored);
    nameBytes_ += EntryBytes(entry);
    if (!idOfName_.Emplace(KeyOf(name, scratch), id)) irregularNames_ = true;
  } else {
    Record(Undo::kNameAdded, names_.size(), nullptr, nullptr);
    names_.push_back({id, name, std::move(stored)});
    nameAt_[id] = names_.size() - 1;
    nameBytes_ += EntryBytes(names_.back());
    if (!idOfName_.Emplace(KeyOf(name, scratch), id)) irregularNames_ = true;
  }
  if (irregularNames_) Reindex();
  return S_OK;
}

bool PropertySection::RemoveName(PROPID id) {
  auto at = nameAt_.find(id);
  if (at == nameAt_.end()) return false;
  const size_t position = at->second;
  const DictionaryEntry& entry = names_[position];
  Record(Undo::kNameRemoved, position, nullptr, &entry);
  nameAt_.erase(at);
  std::wstring scratch;
  idOfName_.EraseIf(KeyOf(entry.name, scratch), id);
  nameBytes_ -= EntryBytes(entry);
  names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(position));
  ShiftNamePositions(position);
  modified_ = true;
  Freed(id);
  if (irregularNames_) Reindex();
  return true;
}

PROPID PropertySection::NextFreeId(PROPID first) const {
  PROPID id = freeFrom_ == first && freeAt_ >= first ? freeAt_ : first;
  while (id < PID_MIN_READONLY && (valueAt_.count(id) != 0 || nameAt_.count(id) != 0)) ++id;
  freeFrom_ = first;
  freeAt_ = id;
  return id < PID_MIN_READONLY ? id : PID_ILLEGAL;
}

void PropertySection::BeginChanges() {
  journaling_ = true;
  modifiedBefore_ = modified_;
  journal_.clear();
}

void PropertySection::EndChanges(bool keep) {
  journaling_ = false;
  if (!keep) {
    for (auto step = journal_.rbegin(); step != journal_.rend(); ++step) {
      switch (step->kind) {
        case Undo::kValueSet: properties_[step->position] = std::move(step->value); break;
        case Undo::kValueAdded: properties_.pop_back(); break;
        case Undo::kValueRemoved:
          properties_.insert(properties_.begin() + static_cast<std::ptrdiff_t>(step->position),
                             std::move(step->value));
          break;
        case Undo::kNameSet: names_[step->position] = std::move(step->name); break;
        case Undo::kNameAdded: names_.pop_back(); break;
        case Undo::kNameRemoved:
          names_.insert(names_.begin() + static_cast<std::ptrdiff_t>(step->position), std::move(step->name));
          break;
        case Undo::kWhole:
          properties_ = std::move(step->values);
          names_ = std::move(step->names);
          break;
      }
    }
    modified_ = modifiedBefore_;
    Reindex();
  }
  journal_.clear();
  journal_.shrink_to_fit();
}

HRESULT PropertySection::ChangeCodePage(UINT codePage) {
  if (codePage == codePage_ && HasCodePage()) return S_OK;
  // Build everything first: the section changes only when all of it fits.
  std::vector<DictionaryEntry> names = names_;
  for (DictionaryEntry& entry : names) {
    const HRESULT hr = EncodeName(entry.name, codePage, entry.stored);
    if (FAILED(hr)) return hr;
  }
  std::vector<SectionProperty> properties = properties_;
  for (SectionProperty& p : properties) {
    if (p.id == PID_CODEPAGE || !HoldsCodePageText(p.value.data(), p.value.size())) continue;
    if (p.value.size() < kTypedValueHeaderSize) continue;
    const uint16_t vt = static_cast<uint16_t>(p.value[0] | (p.value[1] << 8));
    if (!IsInterpretedType(vt)) continue;
    PROPVARIANT value;
    size_t used;
    HRESULT hr = DecodeTypedValue(p.value.data(), p.value.size(), TextCodePages{codePage_, codePage}, value, used);
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> encoded;
    hr = EncodeTypedValue(value, TextCodePages{codePage, codePage}, encoded);
    PropVariantClear(&value);
    if (FAILED(hr)) return hr;
    p.value = std::move(encoded);
  }
  Record(Undo::kWhole, 0, nullptr, nullptr);
  names_ = std::move(names);
  properties_ = std::move(properties);
  modified_ = true;
  SetCodePageProperty(codePage);  // reindexes
  return S_OK;
}

void PropertySection::SetCodePageProperty(UINT codePage) {
  std::vector<uint8_t> value;
  ByteWriter w(value);
  w.U16(VT_I2);
  w.U16(0);
  w.U16(static_cast<uint16_t>(codePage));  // 65001 becomes -535
  Set(PID_CODEPAGE, std::move(value));
}

}  // namespace posix
}  // namespace quorvane
