// Object properties as the catalogue keeps them: the LvProp blob of an
// object's MSysObjects row. For a table the blob holds the table's own
// properties and one map per column that has any (Required, AllowZeroLength,
// DefaultValue, and the ones the application adds).
//
// Parsing takes Jet 3 and Jet 4 blobs and throws JetError(kErrCorrupt) on
// malformed input without reading outside it. Serialising writes Jet 4.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/value.h"

namespace jet {

constexpr uint8_t kPropertyDdl = 0x01;

struct Property {
  std::string name;
  uint8_t type = static_cast<uint8_t>(ColumnType::kText);  // a ColumnType code
  // Bit 0: set by data definition, so the application cannot drop it. Other
  // bits (0x80 on some application properties) are kept as stored.
  uint8_t flags = 0;
  Bytes value;  // as stored

  bool ddl() const { return flags & kPropertyDdl; }

  bool AsBool() const;     // any non-zero byte
  int32_t AsInt() const;   // little-endian, by size (1 byte unsigned, 2 or 4 signed)
  // Text and Memo values: UCS-2 (possibly compressed) on Jet 4, code page on Jet 3.
  std::string AsText(int version = 4) const;

  static Property Bool(std::string name, bool v, bool ddl = true);
  static Property Text(std::string name, std::string_view v, ColumnType type = ColumnType::kMemo,
                       bool ddl = true);  // Jet 4 UCS-2, uncompressed
  bool operator==(const Property&) const = default;
};

struct PropertyMap {
  std::string name;  // column name; empty for the object's own map
  uint16_t kind = PropertyLayout::kChunkColumn;
  std::vector<Property> props;  // in stored order

  const Property* Find(std::string_view prop) const;  // case-insensitive
  bool operator==(const PropertyMap&) const = default;
};

struct Properties {
  // The name chunk in stored order. It may list names no map uses;
  // serialising keeps them and appends any missing ones.
  std::vector<std::string> names;
  std::vector<PropertyMap> maps;  // in stored order

  const PropertyMap* Find(std::string_view name, uint16_t kind) const;  // case-insensitive
  const PropertyMap* Object() const { return Find("", PropertyLayout::kChunkObject); }
  const PropertyMap* Column(std::string_view name) const {
    return Find(name, PropertyLayout::kChunkColumn);
  }
  bool operator==(const Properties&) const = default;
};

// An empty blob is an object without properties. `version` is 3 or 4.
Properties ParseProperties(ByteView blob, int version);
// Jet 4 blob; empty when there is no property at all. Every map is written,
// empty ones too.
Bytes SerializeProperties(const Properties& p);

// What a column declares through DAO; unset fields are not stored.
struct ColumnPropertySpec {
  std::string column;
  std::optional<bool> required;
  std::optional<bool> allow_zero_length;
  // The expression as typed: text constants carry their quotes ("\"abc\""),
  // numbers are bare ("0").
  std::optional<std::string> default_value;
};

// The Jet 4 LvProp blob of a table whose columns declare `columns`: the name
// chunk and one column map per column with something set, each holding
// DefaultValue (Memo), Required and AllowZeroLength (Boolean) in that order,
// all with the DDL flag, as the engine stores them. No map for the table
// itself. Empty when nothing is set.
Bytes BuildColumnProperties(const std::vector<ColumnPropertySpec>& columns);

}  // namespace jet
