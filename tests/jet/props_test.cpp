#include "jet/props.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace jet {
namespace {

using testing_support::ErrorOf;

namespace fs = std::filesystem;

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

// (object name, LvProp blob) for every MSysObjects row that has one, as
// mdb-export reads them.
std::vector<std::pair<std::string, Bytes>> FixtureBlobs(const fs::path& file) {
  const testing_support::CsvTable csv = testing_support::MdbExport(file.string(), "MSysObjects");
  std::vector<std::pair<std::string, Bytes>> blobs;
  if (csv.Column("LvProp") < 0) return blobs;
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    const std::string& hex = csv.At(r, "LvProp");
    if (hex.empty()) continue;
    Bytes blob;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) {
      blob.push_back(static_cast<uint8_t>(std::stoi(hex.substr(k, 2), nullptr, 16)));
    }
    blobs.emplace_back(csv.At(r, "Name"), std::move(blob));
  }
  return blobs;
}

TEST(PropsTest, ColumnPropertiesBlobLayout) {
  const Bytes blob = BuildColumnProperties({{"A", true, std::nullopt, std::nullopt}});
  const Bytes expected = B({
      'M', 'R', '2', 0,
      24, 0, 0, 0, 0x80, 0,                                // name chunk
      16, 0, 'R', 0, 'e', 0, 'q', 0, 'u', 0, 'i', 0, 'r', 0, 'e', 0, 'd', 0,
      23, 0, 0, 0, 0x01, 0,                                // column chunk
      8, 0, 0, 0, 2, 0, 'A', 0,                            // its name
      9, 0, 1, 1, 0, 0, 1, 0, 1,                           // Required = yes, DDL
  });
  EXPECT_EQ(blob, expected);
  EXPECT_TRUE(BuildColumnProperties({{"A", std::nullopt, std::nullopt, std::nullopt}}).empty());

  const Bytes full = BuildColumnProperties({
      {"Nombre", true, false, "\"sin nombre\""},
      {"Sin", std::nullopt, std::nullopt, std::nullopt},
      {"Importe", std::nullopt, std::nullopt, "0"},
  });
  const Properties p = ParseProperties(full, 4);
  EXPECT_EQ(p.names, (std::vector<std::string>{"DefaultValue", "Required", "AllowZeroLength"}));
  ASSERT_EQ(p.maps.size(), 2u);
  EXPECT_EQ(p.Object(), nullptr);
  const PropertyMap* nombre = p.Column("NOMBRE");
  ASSERT_NE(nombre, nullptr);
  ASSERT_EQ(nombre->props.size(), 3u);
  EXPECT_EQ(nombre->props[0].name, "DefaultValue");
  EXPECT_EQ(nombre->props[0].type, static_cast<uint8_t>(ColumnType::kMemo));
  EXPECT_EQ(nombre->props[0].AsText(), "\"sin nombre\"");
  EXPECT_TRUE(nombre->Find("required")->AsBool());
  EXPECT_TRUE(nombre->Find("Required")->ddl());
  EXPECT_FALSE(nombre->Find("AllowZeroLength")->AsBool());
  EXPECT_EQ(p.Column("Importe")->props.size(), 1u);
  EXPECT_EQ(p.Column("Sin"), nullptr);
  EXPECT_EQ(SerializeProperties(p), full);
}

TEST(PropsTest, RoundTripKeepsUnusedNamesAndEmptyMaps) {
  Properties p;
  p.names = {"Unused", "ColumnWidth"};
  p.maps.push_back({"", PropertyLayout::kChunkObject, {}});
  PropertyMap col{"Año", PropertyLayout::kChunkColumn, {}};
  col.props.push_back(Property{"ColumnWidth", static_cast<uint8_t>(ColumnType::kInteger), 0,
                               B({0xFF, 0xFF, 0xFF, 0xFF})});
  col.props.push_back(Property::Text("Format", "#,##0.00", ColumnType::kText));
  col.props.push_back(Property{"DecimalPlaces", 2, 0x81, B({0xFF})});
  p.maps.push_back(col);
  const Properties back = ParseProperties(SerializeProperties(p), 4);
  EXPECT_EQ(back.names,
            (std::vector<std::string>{"Unused", "ColumnWidth", "Format", "DecimalPlaces"}));
  EXPECT_EQ(back.maps, p.maps);
  EXPECT_EQ(back.Column("año")->Find("ColumnWidth")->AsInt(), -1);
  EXPECT_EQ(back.Column("AÑO")->Find("DecimalPlaces")->AsInt(), 255);
  EXPECT_EQ(ParseProperties({}, 4), Properties{});
  EXPECT_TRUE(SerializeProperties(Properties{}).empty());
}

TEST(PropsTest, MalformedBlobsAreCorruptNeverCrash) {
  const Bytes good = BuildColumnProperties({{"Campo", true, true, "\"x\""}});
  EXPECT_JET_ERROR(ParseProperties(good, 3), kErrCorrupt);  // wrong magic
  for (size_t n = 1; n < good.size(); ++n) {
    const int e = ErrorOf([&] { ParseProperties(ByteView(good).first(n), 4); });
    EXPECT_TRUE(e == 0 || e == kErrCorrupt) << n;
  }
  // Every single-byte corruption either parses or is reported as damage.
  for (size_t i = 0; i < good.size(); ++i) {
    for (int v : {0x00, 0x01, 0x7F, 0xFF}) {
      Bytes bad = good;
      bad[i] = static_cast<uint8_t>(v);
      const int e = ErrorOf([&] { ParseProperties(bad, 4); });
      EXPECT_TRUE(e == 0 || e == kErrCorrupt) << i << " " << v;
    }
  }
  Bytes bad_index = good;
  bad_index[bad_index.size() - 5] = 9;  // name index of the last value
  EXPECT_JET_ERROR(ParseProperties(bad_index, 4), kErrCorrupt);
  // A chunk length shorter than its own header would never advance.
  Bytes stuck = B({'M', 'R', '2', 0, 0, 0, 0, 0, 0x80, 0});
  EXPECT_JET_ERROR(ParseProperties(stuck, 4), kErrCorrupt);
}

TEST(PropsTest, FixtureBlobsParseAndRebuildByteForByte) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  std::map<std::string, int> counts;
  for (const char* dir : {"jet3", "jet4"}) {
    const int version = dir[3] == '3' ? 3 : 4;
    for (const auto& path : testing_support::FixtureFiles(testing_support::Encrypted::kLeftOut, {dir})) {
      for (const auto& [name, blob] : FixtureBlobs(path)) {
        SCOPED_TRACE(path.filename().string() + " " + name);
        Properties p;
        ASSERT_NO_THROW(p = ParseProperties(blob, version));
        ++counts[dir];
        counts[std::string(dir) + " maps"] += static_cast<int>(p.maps.size());
        if (version == 4) {
          EXPECT_EQ(SerializeProperties(p), blob);
          EXPECT_EQ(ParseProperties(SerializeProperties(p), 4), p);
        }
      }
    }
  }
  EXPECT_GT(counts["jet3"], 0);
  EXPECT_GT(counts["jet4"], 0);
  for (const auto& [k, v] : counts) std::printf("LvProp %s: %d\n", k.c_str(), v);
}

}  // namespace
}  // namespace jet
