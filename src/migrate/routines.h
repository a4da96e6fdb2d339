// The copy routines of a migration as data: each names its table, the
// consecutive range of fields it assigns (prefix + two-digit number, in
// ascending order), whether its row loop is guarded, which driver runs it and
// whether its last field goes through the V7 renumbering. One copier
// (copier.h) runs them all.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "migrate/copier.h"

namespace maquetor::migrate {

enum class Variante {
  kV8V8,  // "Pasar V8 V8": the origin has the current layout
  kV7V8,  // "Pasar V7 V8": the previous version's layout
};

enum class RunBy { kBoth, kV8V8Only, kV7V8Only };

struct Rutina {
  const char* name;    // "PasarTAbogados"
  const char* table;   // "TAbogados"
  const char* prefix;  // "FAbo": fields FAbo01 .. FAbo11
  int first;
  int last;
  Loop loop = Loop::kUnguarded;
  RunBy run_by = RunBy::kBoth;
  // The V7 routines of the two secondary tables renumber their seventh field.
  bool renumber_last = false;

  bool RunsIn(Variante v) const {
    return run_by == RunBy::kBoth || (run_by == RunBy::kV8V8Only) == (v == Variante::kV8V8);
  }
  // "FAbo01", ..., "FAbo11", with the renumbering on the last when asked.
  TableCopy Copy() const;
};

// Every routine, in the order the drivers run them.
std::span<const Rutina> Rutinas();

// The routines one driver runs, in order.
std::vector<const Rutina*> Secuencia(Variante v);

// A routine by its name ("PasarTAsuntos"); nullptr when there is none.
const Rutina* BuscarRutina(const std::string& name);

// The V7 renumbering of the secondary tables' seventh field: 0, 1, 2 become
// 1, 2, 3; 3 and above become 0; Null stays Null.
jet::Value RenumerarV7(const jet::Value& v);

}  // namespace maquetor::migrate
