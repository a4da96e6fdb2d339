// The settings store of each platform: what the seed writes reads back, and
// lands where the office application looks for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "shell/settings.h"
#include "shell/startup.h"
#include "support/fixtures.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace maquetor::shell;

const std::string kAccented = "Pe\xC3\xB1" "a y N\xC3\xBA\xC3\xB1" "ez";

#ifdef _WIN32

// A scratch application of our own, so the user's real settings stay as they
// are; removed when the test ends.
class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    application_ = "MaquetorPrueba" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, Key(L"").c_str());
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Key(L"").c_str()); }

  std::wstring Key(const std::wstring& section) const {
    std::wstring key = L"Software\\VB and VBA Program Settings\\" +
                       std::wstring(application_.begin(), application_.end());
    return section.empty() ? key : key + L"\\" + section;
  }

  // The value as the registry holds it, read without the store: its type and
  // its UTF-16 text.
  std::pair<DWORD, std::wstring> Raw(const std::wstring& section, const std::wstring& name) const {
    DWORD type = 0;
    wchar_t data[512] = {};
    DWORD bytes = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, Key(section).c_str(), name.c_str(),
                     RRF_RT_ANY | RRF_NOEXPAND, &type, data, &bytes) != ERROR_SUCCESS) {
      return {REG_NONE, L"<absent>"};
    }
    return {type, data};
  }

  std::string application_;
};

TEST_F(RegistryStoreTest, TheSeedLeavesNineTextValuesUnderTheApplicationsKey) {
  const std::string ruta = "C:\\Despachos\\" + kAccented;
  {
    auto settings = OpenSettings(application_);
    EXPECT_EQ(settings->Read("AppPrincipal", "Activo"), "");  // no key at all yet
    EXPECT_TRUE(SeedSettings(*settings, ruta));
  }
  const struct {
    const wchar_t* section;
    const wchar_t* name;
    const wchar_t* value;
  } expected[] = {
      {L"AppPrincipal", L"Activo", L"False"},   {L"AppPrincipal", L"Asunto", L""},
      {L"AppPrincipal", L"Asuntos", L"False"},  {L"AppPrincipal", L"Guardar", L"True"},
      {L"AppPrincipal", L"Maximizar", L"False"},
      {L"AppPrincipal", L"Ruta", L"C:\\Despachos\\Pe\u00F1a y N\u00FA\u00F1ez"},
      {L"Avisos", L"Activo", L"False"},         {L"Avisos", L"Mostrar", L"False"},
      {L"Avisos", L"Tiempo", L""},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(std::wstring(e.section) + L"\\" + e.name);
    const auto [type, text] = Raw(e.section, e.name);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text, e.value);
  }

  auto again = OpenSettings(application_);
  EXPECT_EQ(again->Read("AppPrincipal", "Ruta"), ruta);
  EXPECT_EQ(again->Read("Avisos", "Nada"), "");
  EXPECT_FALSE(SeedSettings(*again, "C:\\otra"));
  // A value of another type reads as absent, so the seed writes again.
  const DWORD one = 1;
  RegSetKeyValueW(HKEY_CURRENT_USER, Key(L"AppPrincipal").c_str(), L"Activo", REG_DWORD, &one,
                  sizeof one);
  EXPECT_EQ(again->Read("AppPrincipal", "Activo"), "");
  EXPECT_TRUE(SeedSettings(*again, "C:\\otra"));
  EXPECT_EQ(again->Read("AppPrincipal", "Ruta"), "C:\\otra");
}

#else

TEST(IniStoreTest, TheSeedReadsBackFromTheIniFile) {
  ts::TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  const std::string ruta = "/opt/" + kAccented;
  {
    auto settings = OpenProgramSettings();
    EXPECT_TRUE(SeedSettings(*settings, ruta));
  }
  auto again = OpenProgramSettings();
  EXPECT_EQ(again->Read("AppPrincipal", "Ruta"), ruta);
  EXPECT_EQ(again->Read("AppPrincipal", "Guardar"), "True");
  EXPECT_EQ(again->Read("Avisos", "Tiempo"), "");
  EXPECT_EQ(again->Read("Avisos", "Nada"), "");
  EXPECT_FALSE(SeedSettings(*again, "/otra"));
  EXPECT_TRUE(fs::exists(dir.path() / "Corvanta" / "Corvanta.ini"));
  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

#endif

}  // namespace
