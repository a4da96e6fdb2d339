#include "jet/props.h"

#include <algorithm>
#include <cstring>

#include "jet/text.h"

namespace jet {
namespace {

using L = PropertyLayout;

std::string DecodeName(ByteView b, int version) {
  return version >= 4 ? Ucs2ToUtf8(b) : Cp1252ToUtf8(b);
}

// u16 length + name, at `pos`; advances `pos`.
std::string ReadName(ByteView b, size_t& pos, int version) {
  const uint16_t len = Get16(b, pos);
  CheckRange(b, pos + 2, len);
  std::string name = DecodeName(b.subspan(pos + 2, len), version);
  pos += 2 + size_t{len};
  return name;
}

void AppendName(Bytes& out, std::string_view name) {
  const Bytes text = Utf8ToUcs2(name);
  if (text.size() > 0xFFFF) throw JetError(kErrInvalidArgument);
  Append16(out, static_cast<uint16_t>(text.size()));
  AppendBytes(out, text);
}

PropertyMap ReadMap(ByteView chunk, uint16_t kind, const std::vector<std::string>& names,
                    int version) {
  PropertyMap map;
  map.kind = kind;
  if (chunk.empty()) return map;
  const uint32_t name_block = Get32(chunk, 0);
  if (name_block < 4) throw JetError(kErrCorrupt);
  CheckRange(chunk, 0, name_block);
  if (name_block >= L::kMapNameBlockHeaderSize) {
    size_t pos = 4;
    map.name = ReadName(chunk.first(name_block), pos, version);
  }
  for (size_t pos = name_block; pos < chunk.size();) {
    const uint16_t len = Get16(chunk, pos);
    if (len < L::kValueHeaderSize) throw JetError(kErrCorrupt);
    CheckRange(chunk, pos, len);
    const ByteView entry = chunk.subspan(pos, len);
    const uint16_t index = Get16(entry, L::kValueNameIndexOffset);
    const uint16_t size = Get16(entry, L::kValueSizeOffset);
    if (index >= names.size()) throw JetError(kErrCorrupt);
    CheckRange(entry, L::kValueHeaderSize, size);
    Property p;
    p.name = names[index];
    p.flags = Get8(entry, L::kValueDdlOffset);
    p.type = Get8(entry, L::kValueTypeOffset);
    const ByteView data = entry.subspan(L::kValueHeaderSize, size);
    p.value.assign(data.begin(), data.end());
    map.props.push_back(std::move(p));
    pos += len;
  }
  return map;
}

// Index of `name` in `names`, adding it when absent.
uint16_t NameIndex(std::vector<std::string>& names, const std::string& name) {
  auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) {
    if (names.size() >= 0xFFFF) throw JetError(kErrInvalidArgument);
    names.push_back(name);
    return static_cast<uint16_t>(names.size() - 1);
  }
  return static_cast<uint16_t>(it - names.begin());
}

void PatchLength32(Bytes& out, size_t at) {
  if (out.size() - at > 0xFFFFFFFFu) throw JetError(kErrInvalidArgument);
  Put32(out, at, static_cast<uint32_t>(out.size() - at));
}

}  // namespace

bool Property::AsBool() const {
  return std::any_of(value.begin(), value.end(), [](uint8_t b) { return b != 0; });
}

int32_t Property::AsInt() const {
  switch (value.size()) {
    case 1: return value[0];
    case 2: return static_cast<int16_t>(Get16(value, 0));
    case 4: return static_cast<int32_t>(Get32(value, 0));
    default: throw JetError(kErrDataTypeMismatch);
  }
}

std::string Property::AsText(int version) const { return DecodeText(value, version); }

Property Property::Bool(std::string name, bool v, bool ddl) {
  return Property{std::move(name), static_cast<uint8_t>(ColumnType::kBoolean),
                  ddl ? kPropertyDdl : uint8_t{0}, Bytes{static_cast<uint8_t>(v ? 1 : 0)}};
}

Property Property::Text(std::string name, std::string_view v, ColumnType type, bool ddl) {
  return Property{std::move(name), static_cast<uint8_t>(type), ddl ? kPropertyDdl : uint8_t{0},
                  Utf8ToUcs2(v)};
}

const Property* PropertyMap::Find(std::string_view prop) const {
  for (const auto& p : props) {
    if (NamesEqual(p.name, prop)) return &p;
  }
  return nullptr;
}

const PropertyMap* Properties::Find(std::string_view name, uint16_t kind) const {
  for (const auto& m : maps) {
    if (m.kind == kind && NamesEqual(m.name, name)) return &m;
  }
  return nullptr;
}

Properties ParseProperties(ByteView blob, int version) {
  Properties out;
  if (blob.empty()) return out;
  CheckRange(blob, 0, L::kMagicSize);
  const uint8_t* magic = version >= 4 ? L::kMagicJet4 : L::kMagicJet3;
  if (std::memcmp(blob.data(), magic, L::kMagicSize) != 0) throw JetError(kErrCorrupt);
  for (size_t pos = L::kMagicSize; pos < blob.size();) {
    const uint32_t len = Get32(blob, pos);
    const uint16_t type = Get16(blob, pos + 4);
    if (len < L::kChunkHeaderSize) throw JetError(kErrCorrupt);
    CheckRange(blob, pos, len);
    const ByteView chunk = blob.subspan(pos + L::kChunkHeaderSize, len - L::kChunkHeaderSize);
    if (type == L::kChunkNames) {
      for (size_t p = 0; p < chunk.size();) out.names.push_back(ReadName(chunk, p, version));
    } else {
      out.maps.push_back(ReadMap(chunk, type, out.names, version));
    }
    pos += len;
  }
  return out;
}

Bytes SerializeProperties(const Properties& p) {
  std::vector<std::string> names = p.names;
  for (const auto& m : p.maps) {
    for (const auto& prop : m.props) NameIndex(names, prop.name);
  }
  if (names.empty() && p.maps.empty()) return {};

  Bytes out(L::kMagicJet4, L::kMagicJet4 + L::kMagicSize);
  size_t start = out.size();
  Append32(out, 0);
  Append16(out, L::kChunkNames);
  for (const auto& n : names) AppendName(out, n);
  PatchLength32(out, start);

  for (const auto& m : p.maps) {
    start = out.size();
    Append32(out, 0);
    Append16(out, m.kind);
    const size_t name_block = out.size();
    Append32(out, 0);
    AppendName(out, m.name);
    PatchLength32(out, name_block);
    for (const auto& prop : m.props) {
      const size_t len = L::kValueHeaderSize + prop.value.size();
      if (len > 0xFFFF) throw JetError(kErrInvalidArgument);
      Append16(out, static_cast<uint16_t>(len));
      Append8(out, prop.flags);
      Append8(out, prop.type);
      Append16(out, NameIndex(names, prop.name));
      Append16(out, static_cast<uint16_t>(prop.value.size()));
      AppendBytes(out, prop.value);
    }
    PatchLength32(out, start);
  }
  return out;
}

Bytes BuildColumnProperties(const std::vector<ColumnPropertySpec>& columns) {
  Properties p;
  for (const auto& s : columns) {
    PropertyMap m;
    m.name = s.column;
    if (s.default_value) m.props.push_back(Property::Text("DefaultValue", *s.default_value));
    if (s.required) m.props.push_back(Property::Bool("Required", *s.required));
    if (s.allow_zero_length) {
      m.props.push_back(Property::Bool("AllowZeroLength", *s.allow_zero_length));
    }
    if (!m.props.empty()) p.maps.push_back(std::move(m));
  }
  if (p.maps.empty()) return {};
  return SerializeProperties(p);
}

}  // namespace jet
