// Files written by the engine, read back by our reader and by the two
// independent readers (mdbtools and mdb-reader): every type, nulls, full-size
// and non-ASCII text, long values on one page and across pages, column
// properties; plain, with a password, and encrypted.
#include <gtest/gtest.h>

#include <cmath>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_codec.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace jet::dao {
namespace {

using testing_support::TempDir;

const char* const kLocale = ";LANGID=0x0409;CP=1252;COUNTRY=0";

struct Sample {
  int32_t id;
  Value text;   // Text(50)
  Value full;   // Text() at the default size, filled
  Value memo;
  Value ole;
  Value number; // Double
};

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  while (out.size() < n) out += s;
  return out;
}

std::vector<Sample> Samples() {
  std::string big_memo = Repeat("Línea de prueba número ñ ü € — ", 70 * 1024);  // > 64 KB
  std::string mid_memo = Repeat("Ab", 2600);                                    // > 4 KB
  Binary blob(9000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  return {
      {1, Value("Ñandú y cigüeña"), Value(std::string(255, 'Z')), Value(big_memo),
       Value(blob), Value(3.25)},
      {2, Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null()},
      {3, Value("Ελληνικά кириллица 日本語"), Value(Repeat("é", 255)), Value(mid_memo),
       Value(Binary{1, 2, 3}), Value(-1e-300)},
      {4, Value(""), Value("x"), Value("corto"), Value(Binary{}), Value(0.0)},
  };
}

void BuildDatabase(const std::string& path, const std::string& password, int options) {
  Workspace& ws = DBEngine::Instance().Workspaces(0);
  std::string connect = std::string(kLocale) + (password.empty() ? "" : ";pwd=" + password);
  Database db = ws.CreateDatabase(path, connect, options);
  TableDef t = db.CreateTableDef("TTipos");
  Field id = t.CreateField("FId", dbLong);
  id.SetAttributes(dbAutoIncrField);
  Field name = t.CreateField("FNombre", dbText, 50);
  name.SetAllowZeroLength(true);
  Field full = t.CreateField("FLargo", dbText);
  Field flag = t.CreateField("FSi", dbBoolean);
  flag.SetDefaultValue("False");
  Field byte = t.CreateField("FByte", dbByte);
  byte.SetDefaultValue("0");
  Field integer = t.CreateField("FEntero", dbInteger);
  integer.SetRequired(true);
  Field money = t.CreateField("FDinero", dbCurrency);
  Field single = t.CreateField("FSimple", dbSingle);
  Field dbl = t.CreateField("FDoble", dbDouble);
  Field date = t.CreateField("FFecha", dbDate);
  Field bin = t.CreateField("FBin", dbBinary, 16);
  Field memo = t.CreateField("FMemo", dbMemo);
  Field ole = t.CreateField("FOle", dbLongBinary);
  for (const Field& f : {id, name, full, flag, byte, integer, money, single, dbl, date, bin, memo, ole}) {
    t.AppendField(f);
  }
  db.AppendTableDef(t);

  Recordset rs = db.OpenRecordset("TTipos");
  for (const Sample& s : Samples()) {
    rs.AddNew();
    EXPECT_EQ(rs.GetValue("FId"), Value(s.id));  // the counter is visible right after AddNew
    rs.SetValue("FNombre", s.text);
    rs.SetValue("FLargo", s.full);
    rs.SetValue("FSi", Value(s.id % 2 == 1));
    if (s.id != 2) rs.SetValue("FByte", Value(int32_t{200 + s.id}));
    rs.SetValue("FEntero", Value(int32_t{-300 * s.id}));
    rs.SetValue("FDinero", s.id == 2 ? Value::Null() : Value(Currency{123456789 * s.id}));
    rs.SetValue("FSimple", s.id == 2 ? Value::Null() : Value(1.5f * static_cast<float>(s.id)));
    rs.SetValue("FDoble", s.number);
    rs.SetValue("FFecha", s.id == 2 ? Value::Null() : Value(PartsToDate({1999 + s.id, 12, 31, 23, 59, 58})));
    rs.SetValue("FBin", s.id == 2 ? Value::Null() : Value(Binary{0xde, 0xad, static_cast<uint8_t>(s.id)}));
    rs.SetValue("FMemo", s.memo);
    rs.SetValue("FOle", s.ole);
    rs.Update();
  }
  rs.Close();
  db.Close();
}

struct Variant {
  const char* name;
  std::string password;
  int options;
};

class InteropTest : public ::testing::TestWithParam<Variant> {};

TEST_P(InteropTest, AllTypesReadTheSameInEveryReader) {
  const Variant& v = GetParam();
  TempDir dir;
  std::string path = dir.File("tipos.mdb");
  BuildDatabase(path, v.password, v.options);
  std::vector<Sample> samples = Samples();

  // Our own reader.
  {
    Workspace& ws = DBEngine::Instance().Workspaces(0);
    Database db = ws.OpenDatabase(path, false, true, ";pwd=" + v.password);
    EXPECT_EQ(db.JetVersion(), 4);
    EXPECT_EQ(db.Encrypted(), (v.options & dbEncrypt) != 0);
    EXPECT_EQ(db.HasPassword(), !v.password.empty());
    TableDef t = db.GetTableDef("ttipos");
    EXPECT_EQ(t.GetField("FLargo").Size(), kDefaultTextSize);
    EXPECT_TRUE(t.GetField("FEntero").Required());
    EXPECT_TRUE(t.GetField("FNombre").AllowZeroLength());
    EXPECT_EQ(t.GetField("FSi").DefaultValue(), "False");
    EXPECT_EQ(t.GetField("FId").Attributes() & dbAutoIncrField, dbAutoIncrField);
    Recordset rs = db.OpenRecordset("TTipos");
    ASSERT_EQ(rs.RecordCount(), 4);
    for (const Sample& s : samples) {
      ASSERT_FALSE(rs.IsEOF());
      EXPECT_EQ(rs.GetValue("FId"), Value(s.id));
      EXPECT_EQ(rs.GetValue("FNombre"), s.text);
      EXPECT_EQ(rs.GetValue("FLargo"), s.full);
      EXPECT_EQ(rs.GetValue("FMemo"), s.memo);
      EXPECT_EQ(rs.GetValue("FOle"), s.ole);
      EXPECT_EQ(rs.GetValue("FDoble"), s.number);
      rs.MoveNext();
    }
    EXPECT_TRUE(rs.IsEOF());
  }

  if (!v.password.empty()) {
    Workspace& ws = DBEngine::Instance().Workspaces(0);
    EXPECT_JET_ERROR(ws.OpenDatabase(path, false, true, ";pwd=otra"), jet::kErrBadPassword);
  }

  // mdbtools.
  if (testing_support::UseMdbtools()) {
    EXPECT_EQ(testing_support::MdbVer(path), "JET4");
    EXPECT_EQ(testing_support::MdbTables(path), std::vector<std::string>{"TTipos"});
    auto csv = testing_support::MdbExport(path, "TTipos");
    ASSERT_EQ(csv.rows.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      const Sample& s = samples[i];
      EXPECT_EQ(csv.At(i, "FId"), std::to_string(s.id));
      if (s.text.is_null()) {
        EXPECT_TRUE(csv.IsNull(i, "FNombre"));
        EXPECT_TRUE(csv.IsNull(i, "FMemo"));
      } else {
        EXPECT_EQ(csv.At(i, "FNombre"), s.text.as<std::string>());
        EXPECT_EQ(csv.At(i, "FLargo"), s.full.as<std::string>());
        EXPECT_EQ(csv.At(i, "FMemo"), s.memo.as<std::string>()) << "row " << s.id;
        EXPECT_EQ(csv.At(i, "FOle"), s.ole.ToString());
      }
      EXPECT_EQ(csv.At(i, "FEntero"), std::to_string(-300 * s.id));
      EXPECT_EQ(csv.At(i, "FSi"), s.id % 2 == 1 ? "1" : "0");
    }
    EXPECT_EQ(csv.At(0, "FFecha"), "2000-12-31 23:59:58");
    EXPECT_EQ(csv.At(0, "FDinero"), "12345.6789");
    auto props = testing_support::MdbProps(path, "TTipos");
    EXPECT_EQ(props["FEntero"]["Required"], "yes");
    EXPECT_EQ(props["FNombre"]["AllowZeroLength"], "yes");
    EXPECT_EQ(props["FSi"]["DefaultValue"], "False");
    EXPECT_EQ(props["FByte"]["DefaultValue"], "0");
  }

  // mdb-reader.
  if (testing_support::UseMdbReader()) {
    auto dump = testing_support::MdbReaderDump(path, v.password);
    ASSERT_EQ(dump["tables"].size(), 1u);
    const auto& table = dump["tables"][0];
    EXPECT_EQ(table["name"], "TTipos");
    ASSERT_EQ(table["rows"].size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto& row = table["rows"][i];
      const Sample& s = samples[i];
      EXPECT_EQ(row["FId"], s.id);
      if (s.text.is_null()) {
        EXPECT_TRUE(row["FNombre"].is_null());
        EXPECT_TRUE(row["FOle"].is_null());
      } else {
        EXPECT_EQ(row["FNombre"], s.text.as<std::string>());
        EXPECT_EQ(row["FMemo"], s.memo.as<std::string>()) << "row " << s.id;
        std::string hex = s.ole.ToString();
        for (auto& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(row["FOle"], hex);
      }
      EXPECT_EQ(row["FSi"], s.id % 2 == 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, InteropTest,
                         ::testing::Values(Variant{"plain", "", 0},
                                           Variant{"password", "KTRW_BLM", 0},
                                           Variant{"encrypted", "KTRW_BLM", dbEncrypt}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace jet::dao
