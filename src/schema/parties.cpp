// Parties, their address tables and the countries.
#include <array>
#include <string>

#include "db/engine.h"
#include "db/program_state.h"
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTPaises = {
    "TPaises",
    {
        {"FPa01", Long},
        {"FPa02", Text, 20, _, No},
        {"FPa03", Boolean, 0, _, _, "False"},
    },
    {
        {"Ipaises1", {"FPa01"}, Yes, Yes, _, true},
        // Repeated names allowed: AUSTRALIA is there twice.
        {"Ipaises2", {"FPa02"}, _, _, _, true, jet::dao::dbVariableField},
    },
};

// One layout for the six address tables; the names come from the base name.
TableSpec AddressTable(const std::string& base) {
  return {
      "T" + base + "Dir",
      {
          {"FDir01", Long, 0, _, _, {}, AutoIncrement},
          {"FDir02", Long, 0, Yes},
          {"FDir03", Text, 45, _, Yes},
          {"FDir04", Text, 20, _, Yes},
          {"FDir05", Text, 20, _, Yes},
          {"FDir06", Text, 5, _, Yes},
          {"FDir07", Text, 10, _, Yes},
          {"FDir08", Text, 10, _, Yes},
          {"FDir09", Text, 10, _, Yes},
          {"FDir10", Long},
          {"FDir11", Text, 7, _, Yes},
          {"FDir12", Text, 100, _, Yes},
          {"FDir13", Text, 100, _, Yes},
          {"FDir14", Text, 100, _, Yes},
      },
      {{"I" + base + "Dir", {"FDir01"}, Yes, Yes, Yes, true, AutoIncrement}},
      {{"R" + base + "Pais", "TPaises", "T" + base + "Dir", {{"FPa01", "FDir10"}}, CascadeUpdates}},
  };
}

// Lawyers and court agents share one layout, field for field.
TableSpec ProfessionalTable(const std::string& base, const std::string& f) {
  return {
      "T" + base,
      {
          {f + "01", Long, 0, Yes, _, {}, AutoIncrement},
          {f + "02", Text, 20, _, Yes},
          {f + "03", Text, 20, _, Yes},
          {f + "04", Text, 20, _, Yes},
          {f + "05", Byte},
          {f + "06", Text, 9, _, Yes},
          {f + "07", Text, 20, _, Yes},
          {f + "08", Text, 20, _, Yes},
          {f + "09", Long},
          {f + "10", Text, 100, _, Yes},
          {f + "11", Text, 5, Yes, No},
      },
      {
          {"I" + base + "1", {f + "01"}, Yes, Yes, Yes},
          {"I" + base + "2", {f + "02", f + "03", f + "04"}, No},
          {"I" + base + "3", {f + "11"}, No, Yes, Yes},
      },
      {{"R" + base + "Dir", "T" + base, "T" + base + "Dir", {{f + "01", "FDir02"}}, CascadeDeletes}},
  };
}

const TableSpec kTAbogados = ProfessionalTable("Abogados", "FAbo");
const TableSpec kTProcuradores = ProfessionalTable("Procuradores", "FPro");

const TableSpec kTJuzgados = {
    "TJuzgados",
    {
        {"FJuz01", Text, 8, Yes, No},
        {"FJuz02", Text, 5, _, Yes},
        {"FJuz03", Text, 3, _, Yes},
        {"FJuz04", Text, 70, _, Yes},
        {"FJuz05", Text, 100, _, Yes},
        {"FJuz06", Long},
        {"FJuz07", Long, 0, Yes, _, {}, AutoIncrement},
    },
    {
        {"IJuzgados1", {"FJuz01"}, Yes, Yes, Yes},
        {"IJuzgados2", {"FJuz04"}, No},
        {"IJuzgados3", {"FJuz07"}, No, Yes, Yes},
    },
    {{"RJuzgadosDir", "TJuzgados", "TJuzgadosDir", {{"FJuz07", "FDir02"}}, CascadeDeletes}},
};

const TableSpec kTClientes = {
    "TClientes",
    {
        {"FCli01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FCli02", Text, 40, _, Yes},
        {"FCli03", Text, 20, _, Yes},
        {"FCli04", Text, 20, _, Yes},
        {"FCli05", Byte},
        {"FCli06", Byte},
        {"FCli07", Text, 9, _, Yes},
        {"FCli08", Text, 20, _, Yes},
        {"FCli09", Text, 20, _, Yes},
        {"FCli10", Long, 0, No},
        {"FCli11", Text, 100, _, Yes},
        {"FCli12", Long, 0, _, _, "Null"},
    },
    {
        {"IClientes1", {"FCli01"}, Yes, Yes, Yes},
        {"IClientes2", {"FCli02", "FCli03", "FCli04"}, No},
        {"IClientes3", {"FCli12"}, No, Yes},
    },
    {
        {"RClientesDir", "TClientes", "TClientesDir", {{"FCli01", "FDir02"}}, CascadeDeletes},
        {"RClientesAsu", "TClientes", "TCliAsu", {{"FCli01", "FCliAsu01"}}, CascadeDeletes},
        {"RClientespod", "TClientes", "TCliPod", {{"FCli01", "FCliPod01"}}, CascadeDeletes},
    },
};

const TableSpec kTContra = {
    "TContra",
    {
        {"FCon01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FCon02", Text, 40, _, Yes},
        {"FCon03", Text, 20, _, Yes},
        {"FCon04", Text, 20, _, Yes},
        {"FCon05", Byte},
        {"FCon06", Byte},
        {"FCon07", Text, 9, _, Yes},
        {"FCon08", Text, 20, _, Yes},
        {"FCon09", Text, 20, _, Yes},
        {"FCon10", Long, 0, No},
        {"FCon11", Text, 100, _, Yes},
    },
    {
        {"IContra1", {"FCon01"}, Yes, Yes, Yes},
        {"IContra2", {"FCon02", "FCon03", "FCon04"}, No},
    },
    {
        {"RContraDir", "TContra", "TContraDir", {{"FCon01", "FDir02"}}, CascadeDeletes},
        {"RContraAsu", "TContra", "TConAsu", {{"FCon01", "FConAsu01"}}, CascadeDeletes},
    },
};

const TableSpec kTInter = {
    "TInter",
    {
        {"FIn01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FIn02", Text, 40, _, Yes},
        {"FIn03", Text, 20, _, Yes},
        {"FIn04", Text, 20, _, Yes},
        {"FIn05", Byte},
        {"FIn06", Byte},
        {"FIn07", Text, 60, _, Yes},
        {"FIn08", Text, 9, _, Yes},
        {"FIn09", Text, 20, _, Yes},
        {"FIn10", Text, 20, _, Yes},
        {"FIn11", Long},
        {"FIn12", Text, 100, _, Yes},
    },
    {
        {"IInter1", {"FIn01"}, Yes, Yes, Yes},
        {"IInter2", {"FIn02", "FIn03", "FIn04"}, No},
    },
    {
        {"RInterDir", "TInter", "TInterDir", {{"FIn01", "FDir02"}}, CascadeDeletes},
        // Written so by the application; table names match without regard to case.
        {"RInterAsu", "TInter", "Tintasu", {{"FIn01", "FInAsu01"}}, CascadeDeletes},
    },
};

// Codes 1 to 207 in this order. Not alphabetical, and AUSTRALIA twice: the
// application's stored codes depend on exactly this list.
constexpr std::array<const char*, 207> kPaises = {
    "ALBANIA", "ALEMANIA", "ANDORRA", "ANGOLA", "ANTILLAS BRITANICAS", "ANTILLAS HOLANDESAS",
    "ARABIA SAUDI", "ARGELIA", "ARGENTINA", "ARMENIA", "ARUBA", "ASCENSION", "AUSTRALIA",
    "AUSTRIA", "AZERBAIYAN", "BAHAMAS", "BAHREIN", "BANGLADESH", "BELGICA", "BELIZE", "BENIN",
    "BERMUDAS", "BHUTAN", "BIELORRUSIA", "BOLIVIA", "BOTSWANA", "BRASIL", "BRUNEI", "BULGARIA",
    "BURKINA FASO", "BURUNDI", "CABO VERDE", "CAIMANES", "CAMBOYA", "CAMERUN", "CANADA",
    "CENTROAFRICANA R.", "CHAD", "CHECA REP.", "CHILE", "CHINA", "CHIPRE", "COLOMBIA",
    "COMORES", "CONGO", "COOK IS.", "COREA R.P.D.", "COREA REP", "COSTA DE MARFIL",
    "COSTA RICA", "CROACIA", "CUBA", "DIEGO GARCIA", "DINAMARCA", "DOMINICA R.", "ECUADOR",
    "EGIPTO", "EL SALVADOR", "EMIRATOS A.U.", "ERITREA", "ESLOVACA REP.", "ESLOVENIA",
    "ESPAÑA", "ESTADOS UNIDOS", "ESTONIA", "ETIOPIA", "FEROE IS.", "FIYI", "FILIPINAS",
    "FINLANDIA", "FRANCIA", "GABON", "GAMBIA", "GEORGIA", "GHANA", "GIBRALTAR", "GRECIA",
    "GROELANDIA", "GUADALUPE", "GUAM", "GUATEMALA", "GUAYANA FRA.", "GUINEA BISSAU",
    "GUINEA ECUATORIAL", "GUINEA R.", "GUAYANA", "HAITI", "HONDURAS", "HONG KONG", "HUNGRIA",
    "INDIA", "INDONESIA", "IRAN", "IRAQ", "IRLANDA", "ISLANDIA", "ISRAEL", "ITALIA", "JAMAICA",
    "JAPON", "JORDANIA", "KAZAJSTAN", "KENIA", "KIRIBATI", "KIRKGUIZISTAN", "KUBAIT", "LAOS",
    "LESHOTO", "LETONIA", "LIBANO", "LIBERIA", "LIBIA", "LIECHTENSTEIN", "LITUANIA",
    "LUXEMBURGO", "MACAO", "MACEDONIA", "MADAGASCAR", "MALASIA", "MALAWI", "MALDIVAS", "MALI",
    "MALTA", "MALVINAS", "MARIANAS", "MARRUECOS", "MARSHALL IS.", "MARTINICA", "MAURICIO",
    "MAURITANIA", "MAYOTTE", "MEXICO", "MICRONESIA", "MOLDAVIA", "MONACO", "MONGOLIA",
    "MOZAMBIQUE", "MYANMAR", "NAMIBIA", "NAURU", "NEPAL", "NICARAGUA", "NIGUER", "NIGERIA",
    "NIUE", "NORUEGA", "NUEVA CALEDONIA", "NUEVA ZELANDA", "OMAN", "PAISES BAJOS", "PAKISTAN",
    "PALAU", "PANAMA", "PAPUA NUEVA GUINEA", "PARAGUAY", "PERU", "POLINESIA FR.", "POLONIA",
    "PORTUGAL", "PUERTO RICO", "QATAR", "REINO UNIDO", "REUNION", "RUANDA", "RUMANIA", "RUSIA",
    "SALOMON", "SAMOA AMERICANA", "SINGAPUR", "SIRIA", "SRI-LANKA", "SWAZILANDIA", "SUDAFRICA",
    "SUDAN", "SUECIA", "SUIZA", "SURINAM", "TAILANDIA", "TAIWAN", "TANZANIA",
    "TERRITORIOS EXT.", "AUSTRALIA", "TOGO", "TONGA", "TRINIDAD Y TOBAGO", "TUNEZ",
    "TURKMENISTAN", "TURKS Y CAICOS", "TURQUIA", "TUVALU", "UCRANIA", "UGANDA", "URUGUAY",
    "UZBEKISTAN", "VANUATU", "VATICANO", "VENEZUELA", "VIETNAM", "VIRGENES AMERICANAS IS.",
    "VIRGENES BRITANICAS IS.", "WALLIS Y FUTURA", "YEMEN", "YIBUTI", "YUGOSLAVA FED.", "ZAIRE",
    "ZAMBIA", "ZIMBABWE",
};

// A party button builds its address table on a second handle, through the
// hidden `direcciones` button, before anything of its own table exists.
void PartyButton(const std::string& BDatosTrabajo, const char* base, const TableSpec& table) {
  db::TableBuilder builder(BDatosTrabajo, base);
  direcciones(BDatosTrabajo);
  builder.Build(table);
}

}  // namespace

void Paises(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, std::nullopt);
  builder.Build(kTPaises);
  builder.Close();
  InsertarPaises(BDatosTrabajo);
}

void InsertarPaises(const std::string& BDatosTrabajo) {
  using namespace jet::dao;
  Database db = db::OpenShared(BDatosTrabajo);
  db.Execute("DELETE * FROM Tpaises", db::kExecuteFailOnError);
  for (size_t p = 0; p < kPaises.size(); ++p) {
    // The two names longer than FPa02 are cut to its 20 characters by the
    // engine. No name holds an apostrophe.
    db.Execute("INSERT INTO Tpaises (Fpa01,Fpa02) VALUES (" + std::to_string(p + 1) + ",'" +
                   kPaises[p] + "')",
               db::kExecuteSeed);
  }
  db.Close();
}

void direcciones(const std::string& BDatosTrabajo) {
  jet::dao::Database db = db::OpenExclusive(BDatosTrabajo);
  db::BuildTable(db, AddressTable(db::ProgramState::Instance().NombreBase));
  db.Close();
}

void Abogados(const std::string& BDatosTrabajo) { PartyButton(BDatosTrabajo, "Abogados", kTAbogados); }
void Procuradores(const std::string& BDatosTrabajo) {
  PartyButton(BDatosTrabajo, "Procuradores", kTProcuradores);
}
void Juzgados(const std::string& BDatosTrabajo) { PartyButton(BDatosTrabajo, "Juzgados", kTJuzgados); }
void Clientes(const std::string& BDatosTrabajo) { PartyButton(BDatosTrabajo, "Clientes", kTClientes); }
void Contrarios(const std::string& BDatosTrabajo) { PartyButton(BDatosTrabajo, "Contra", kTContra); }
void Intervinientes(const std::string& BDatosTrabajo) { PartyButton(BDatosTrabajo, "Inter", kTInter); }

}  // namespace maquetor::schema
