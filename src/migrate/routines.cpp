#include "migrate/routines.h"

#include <array>
#include <cstdio>

namespace maquetor::migrate {
namespace {

constexpr Loop Guarded = Loop::kGuarded;
constexpr Loop Unguarded = Loop::kUnguarded;
constexpr RunBy V8Only = RunBy::kV8V8Only;
constexpr RunBy V7Only = RunBy::kV7V8Only;

// In this order every row finds the rows its relations point at already in
// the destination: parties before their addresses and their links,
// classifications before matters, matters before everything bound to them,
// fee notes before fee items, provisions and expenses. TProcesales comes
// right after TAsuntos, since each procedural event names its matter.
// TDerecho copies all ten fields: FDerecho09 is required and has no default.
constexpr std::array kRutinas = {
    Rutina{"PasarTAbogados", "TAbogados", "FAbo", 1, 11},
    Rutina{"PasarTAbogadosDir", "TAbogadosDir", "FDir", 1, 14},
    Rutina{"PasarTProcuradores", "TProcuradores", "FPro", 1, 11},
    Rutina{"PasarTProcuradoresDir", "TProcuradoresDir", "FDir", 1, 14},
    Rutina{"PasarTJuzgados", "TJuzgados", "FJuz", 1, 7},
    Rutina{"PasarTJuzgadosDir", "TJuzgadosDir", "FDir", 1, 14},
    Rutina{"PasarTClientes", "TClientes", "FCli", 1, 12, Guarded},
    Rutina{"PasarTClientesDir", "TClientesDir", "FDir", 1, 14},
    Rutina{"PasarTLaboral", "TLaboral", "FLab", 1, 13, Unguarded, V8Only},
    Rutina{"PasarTContra", "TContra", "FCon", 1, 11},
    Rutina{"PasarTContraDir", "TContraDir", "FDir", 1, 14},
    Rutina{"PasarTInter", "TInter", "FIn", 1, 12},
    Rutina{"PasarTInterDir", "TInterDir", "FDir", 1, 14},
    Rutina{"PasarTPoder", "TPoder", "FPod", 1, 6},
    Rutina{"PasarTDocu", "TDocu", "FDoc", 1, 3, Guarded},
    Rutina{"PasarTMaterias", "TMaterias", "FMateria", 1, 2, Unguarded, V8Only},
    Rutina{"PasarTSubMaterias", "TSubMaterias", "FSubMateria", 1, 3, Unguarded, V8Only},
    Rutina{"PasarTAsuntos", "TAsuntos", "FAsu", 1, 27, Guarded},
    Rutina{"PasarTProcesales", "TProcesales", "FProcesales", 1, 6, Unguarded, V8Only},
    Rutina{"PasarTCliAsu", "TCliAsu", "FCliAsu", 1, 4},
    Rutina{"PasarTConAsu", "TConAsu", "FConAsu", 1, 5},
    Rutina{"PasarTIntAsu", "TIntAsu", "FInAsu", 1, 3},
    Rutina{"PasarTDocAsu", "TDocAsu", "FDocAsu", 1, 8},
    Rutina{"PasarTMinuta", "TMinuta", "FMinuta", 1, 19},
    Rutina{"PasarTContable", "TContable", "FContable", 1, 12},
    Rutina{"PasarTDerecho", "TDerecho", "FDerecho", 1, 10},
    Rutina{"PasarTCliPod", "TCliPod", "FCliPod", 1, 2},
    Rutina{"PasarTGastos", "TGastos", "FGastos", 1, 10},
    Rutina{"PasarTGastosNo", "TGastosNo", "FContable", 1, 12},
    // The destination's seeded accounts keep their rows; the origin's rows
    // with those codes are refused and left out.
    Rutina{"PasarTcContable", "TcContable", "FcContable", 1, 3, Guarded},
    Rutina{"PasarTGCobros", "TGCobros", "FGCobros", 1, 7},
    Rutina{"PasarTGprovi", "TGprovi", "FGprovi", 1, 7},
    Rutina{"PasarTHistorico", "THistorico", "FHist", 1, 4},
    Rutina{"PasarTHistoricoSec", "THistoricoSec", "FHistSec", 1, 7, Unguarded, V8Only},
    Rutina{"PasarTHistoricoSecV7", "THistoricoSec", "FHistSec", 1, 7, Unguarded, V7Only, true},
    Rutina{"PasarTGesNoJudicial", "TGesNoJudicial", "FGesNJ", 1, 4},
    Rutina{"PasarTGesNoJudicialSec", "TGesNoJudicialSec", "FGesNJS", 1, 7, Guarded, V8Only},
    Rutina{"PasarTGesNoJudicialSecV7", "TGesNoJudicialSec", "FGesNJS", 1, 7, Guarded, V7Only, true},
};

}  // namespace

TableCopy Rutina::Copy() const {
  TableCopy copy;
  copy.routine = name;
  copy.table = table;
  copy.loop = loop;
  for (int n = first; n <= last; ++n) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", n);
    FieldCopy f{std::string(prefix) + number};
    if (renumber_last && n == last) f.convert = RenumerarV7;
    copy.fields.push_back(std::move(f));
  }
  return copy;
}

std::span<const Rutina> Rutinas() { return kRutinas; }

std::vector<const Rutina*> Secuencia(Variante v) {
  std::vector<const Rutina*> out;
  for (const auto& r : kRutinas) {
    if (r.RunsIn(v)) out.push_back(&r);
  }
  return out;
}

const Rutina* BuscarRutina(const std::string& name) {
  for (const auto& r : kRutinas) {
    if (name == r.name) return &r;
  }
  return nullptr;
}

jet::Value RenumerarV7(const jet::Value& v) {
  if (v.is_null()) return v;
  // The field is a Byte; anything else is not a value this field can hold.
  const int32_t old = v.as<int32_t>();
  return jet::Value(old + 1 <= 3 ? old + 1 : int32_t{0});
}

}  // namespace maquetor::migrate
