#include "jet/error.h"

#include <cstdio>
#include <mutex>
#include <string_view>
#include <utility>

namespace jet {
namespace {

struct Entry {
  int number;
  std::string_view text;  // "|" marks where the object name goes
};

constexpr Entry kMessages[] = {
    {kErrOverflow, "Desbordamiento"},
    {kErrInvalidArgument, "Argumento no válido."},
    {kErrTableLocked, "La tabla '|' ya está abierta en modo exclusivo por otro usuario, o ya está abierta a través de la interfaz de usuario y no se puede manipular mediante programación."},
    {kErrTableExists, "La tabla '|' ya existe."},
    {kErrObjectExists, "El objeto '|' ya existe."},
    {kErrUpdateWithoutEdit, "Update o CancelUpdate sin AddNew o Edit."},
    {kErrNoCurrentRecord, "No hay ningún registro activo."},
    {kErrDuplicateKey, "Los cambios solicitados en la tabla no se realizaron correctamente porque crearían valores duplicados en el índice, clave principal o relación. Cambie los datos en el campo o los campos que contienen datos duplicados, quite el índice o vuelva a definirlo para permitir entradas duplicadas e inténtelo de nuevo."},
    {kErrFileNotFound, "No se encuentra el archivo '|'."},
    {kErrReadOnly, "No se puede actualizar. La base de datos o el objeto es de sólo lectura."},
    {kErrBadPassword, "Contraseña no válida."},
    {kErrDatabaseFull, "El sistema no tiene recursos o memoria suficiente."},
    {kErrDiskIo, "Error de disco o de red."},
    {kErrDiskFull, "No hay suficiente espacio en el disco."},
    {kErrPathNotFound, "'|' no es una ruta válida. Asegúrese de que la ruta de acceso se ha escrito correctamente y que está conectado al servidor en el que reside el archivo."},
    {kErrFileInUse, "No se pudo utilizar '|'; el archivo ya está en uso."},
    {kErrRecordTooLarge, "El registro es demasiado grande."},
    {kErrCorrupt, "No se puede abrir la base de datos '|'. Puede que no sea una base de datos que su aplicación reconozca o que el archivo esté dañado."},
    {kErrNameInvalid, "'|' no es un nombre válido. Asegúrese de que no incluye caracteres o signos de puntuación no válidos y que no es demasiado largo."},
    {kErrTableExists, "La tabla '|' ya existe."},
    {kErrFieldTooSmall, "El campo es demasiado pequeño para aceptar la cantidad de datos que intentó agregar. Intente insertar o pegar menos datos."},
    {kErrFieldCountExceeded, "Hay demasiados campos definidos."},
    {kErrRelatedRecordsExist, "No se puede eliminar o modificar el registro porque la tabla '|' contiene registros relacionados."},
    {kErrNoRelatedRecord, "No se puede agregar o modificar un registro porque se necesita un registro relacionado en la tabla '|'."},
    {kErrDatabaseExists, "La base de datos ya existe."},
    {kErrInvalidOperation, "Operación no válida."},
    {kErrItemNotFound, "No se encontró el elemento en esta colección."},
    {kErrRequired, "El campo '|' no puede contener un valor Null porque la propiedad Required para este campo está establecida a True. Introduzca un valor en este campo."},
    {kErrZeroLength, "El campo '|' no puede ser una cadena de longitud cero."},
    {kErrNotADatabase, "Formato de base de datos '|' no reconocido."},
    {kErrLockedExclusive, "Ha intentado abrir una base de datos que ya está abierta en modo exclusivo por el usuario 'Admin' en el equipo '|'. Inténtelo de nuevo cuando la base de datos esté disponible."},
    {kErrObjectClosed, "El objeto no es válido o no está establecido."},
    {kErrNoSuchTable, "El motor de base de datos no puede encontrar la tabla o consulta de entrada '|'. Asegúrese de que existe y de que su nombre está escrito correctamente."},
    {kErrPrimaryKeyExists, "Ya existe la clave principal."},
    {kErrIndexExists, "Ya existe un índice denominado '|'."},
    {kErrObjectNotFound, "El motor de base de datos no puede encontrar el objeto '|'. Asegúrese de que el objeto existe y de que escribe correctamente su nombre y la ruta de acceso."},
    {kErrIndexNull, "El índice o la clave principal no puede contener un valor Null."},
    {kErrNoUniqueIndex, "No se encontró un índice único para el campo de referencia de la tabla principal."},
    {kErrIndexInRelation, "No se puede eliminar este índice o tabla. Es el índice activo o se utiliza en una relación."},
    {kErrRelationFieldsMismatch, "La relación debe tener el mismo número de campos con los mismos tipos de datos."},
    {kErrRelationDataViolation, "No se puede crear la relación para exigir la integridad referencial. Los datos existentes en la tabla '|' infringen las reglas de integridad referencial."},
    {kErrDataTypeMismatch, "No coinciden los tipos de datos en la expresión de criterios."},
    {kErrDivisionByZero, "División por cero"},
    {kErrTooFewParameters, "Pocos parámetros. Se esperaba |."},
    {kErrCannotExecuteSelect, "No se puede ejecutar una consulta de selección."},
    {kErrSyntaxExpression, "Error de sintaxis (falta operador) en la expresión de consulta '|'."},
    {kErrUndefinedFunction, "Función '|' no definida en la expresión."},
    {kErrFieldNotUpdatable, "No se puede actualizar '|'; el campo no es actualizable."},
    {kErrSyntaxInsert, "Error de sintaxis en la instrucción INSERT INTO."},
    {kErrInsertUnknownField, "La instrucción INSERT INTO contiene el siguiente nombre de campo desconocido: '|'. Asegúrese de que ha escrito el nombre correctamente e inténtelo de nuevo."},
    {kErrInvalidSqlStatement, "Instrucción SQL no válida; se esperaba 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT' o 'UPDATE'."},
    {kErrSyntaxFrom, "Error de sintaxis en la cláusula FROM."},
    {kErrSyntaxOrderBy, "Error de sintaxis en la cláusula ORDER BY."},
    {kErrSyntaxSelect, "La instrucción SELECT incluye una palabra reservada o un nombre de argumento que está mal escrito o que falta, o la puntuación es incorrecta."},
    {kErrSyntaxUpdate, "Error de sintaxis en la instrucción UPDATE."},
    {kErrInvalidFieldType, "Tipo de datos de campo no válido."},
    {kErrIndexAlreadyExists, "Ya existe el índice."},
    {kErrSyntaxConstraint, "Error de sintaxis en la cláusula CONSTRAINT."},
    {kErrSyntaxCreateTable, "Error de sintaxis en la instrucción CREATE TABLE."},
    {kErrSyntaxCreateIndex, "Error de sintaxis en la instrucción CREATE INDEX."},
    {kErrSyntaxFieldDefinition, "Error de sintaxis en la definición del campo."},
    {kErrSyntaxAlterTable, "Error de sintaxis en la instrucción ALTER TABLE."},
    {kErrSyntaxDrop, "Error de sintaxis en la instrucción DROP TABLE o DROP INDEX."},
    {kErrValueCountMismatch, "El número de valores de consulta y el número de campos de destino son diferentes."},
    {kErrNoTableOrConstraint, "No se encuentra la tabla o la restricción."},
    {kErrTableNotFound, "La tabla '|' no existe."},
};

std::string Fill(std::string_view text, const std::string& detail) {
  std::string out;
  auto bar = text.find('|');
  if (bar == std::string_view::npos) return std::string(text);
  out.append(text.substr(0, bar));
  out.append(detail);
  out.append(text.substr(bar + 1));
  return out;
}

std::string Lookup(int number, const std::string& detail) {
  for (const auto& e : kMessages) {
    if (e.number == number) return Fill(e.text, detail);
  }
  return "Error de Jet " + std::to_string(number) + ".";
}

}  // namespace

std::string ErrorMessage(int number) { return Lookup(number, ""); }

JetError::JetError(int number) : JetError(number, "") {}

JetError::JetError(int number, const std::string& detail)
    : std::runtime_error(Lookup(number, detail)), number_(number), detail_(detail) {}

namespace {

struct Deferred {
  std::mutex mu;
  std::vector<JetError> errors;
};

Deferred& DeferredErrors() {
  static Deferred* d = new Deferred;  // outlives static destruction
  return *d;
}

// Prints at exit what nobody took.
struct PrintLeftAtExit {
  ~PrintLeftAtExit() {
    for (const JetError& e : TakeDeferredErrors()) {
      std::fprintf(stderr, "Error %d: %s\n", e.number(), e.what());
    }
  }
} print_left_at_exit;

}  // namespace

void DeferError(const JetError& e) {
  Deferred& d = DeferredErrors();
  std::lock_guard<std::mutex> lock(d.mu);
  d.errors.push_back(e);
}

std::vector<JetError> TakeDeferredErrors() {
  Deferred& d = DeferredErrors();
  std::lock_guard<std::mutex> lock(d.mu);
  return std::exchange(d.errors, {});
}

}  // namespace jet
