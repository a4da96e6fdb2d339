// The engine's one error type: a Jet error number and the message the
// application's users read (in Spanish, as the engine shows it to them).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace jet {

// Error numbers the engine raises. Names describe the condition.
enum ErrorCode : int {
  kErrFileNotFound = 3024,
  kErrNotADatabase = 3343,         // unrecognised database format
  kErrBadPassword = 3031,
  kErrDatabaseExists = 3204,
  kErrTableExists = 3010,
  kErrItemNotFound = 3265,
  kErrFieldTooSmall = 3163,
  kErrFileInUse = 3045,            // could not use the file; already in use
  kErrLockedExclusive = 3356,      // opened exclusively by another user
  kErrTableLocked = 3008,          // table exclusively locked
  kErrInvalidArgument = 3001,
  kErrNoCurrentRecord = 3021,
  kErrUpdateWithoutEdit = 3020,
  kErrDuplicateKey = 3022,
  kErrDataTypeMismatch = 3464,
  kErrRequired = 3314,
  kErrZeroLength = 3315,
  kErrNoRelatedRecord = 3201,
  kErrRelatedRecordsExist = 3200,
  kErrDiskIo = 3043,
  kErrDiskFull = 3026,
  kErrReadOnly = 3027,
  kErrCorrupt = 3049,             // database corrupted or not a database
  kErrPathNotFound = 3044,
  kErrObjectExists = 3012,
  kErrNameInvalid = 3125,
  kErrOverflow = 6,
  kErrInvalidOperation = 3219,
  kErrObjectClosed = 3420,
  kErrFieldCountExceeded = 3190,
  kErrRecordTooLarge = 3047,
  kErrDatabaseFull = 3035,
  kErrNoSuchTable = 3078,
  kErrPrimaryKeyExists = 3283,
  kErrIndexExists = 3375,
  // Relations and row integrity
  kErrObjectNotFound = 3011,
  kErrIndexNull = 3058,            // index or primary key cannot contain a null
  kErrNoUniqueIndex = 3173,        // referenced fields of the primary table
  kErrIndexInRelation = 3281,      // current index or used in a relationship
  kErrRelationFieldsMismatch = 3368,
  kErrRelationDataViolation = 3379,  // existing rows break the new relationship
  // SQL statements
  kErrDivisionByZero = 11,
  kErrTooFewParameters = 3061,
  kErrCannotExecuteSelect = 3065,
  kErrSyntaxExpression = 3075,     // syntax error (missing operator) in query expression
  kErrUndefinedFunction = 3085,
  kErrFieldNotUpdatable = 3113,
  kErrSyntaxInsert = 3134,
  kErrInsertUnknownField = 3127,
  kErrInvalidSqlStatement = 3129,
  kErrSyntaxFrom = 3131,
  kErrSyntaxOrderBy = 3138,
  kErrSyntaxSelect = 3141,
  kErrSyntaxUpdate = 3144,
  kErrInvalidFieldType = 3259,
  kErrIndexAlreadyExists = 3284,
  kErrSyntaxConstraint = 3289,
  kErrSyntaxCreateTable = 3290,
  kErrSyntaxCreateIndex = 3291,
  kErrSyntaxFieldDefinition = 3292,
  kErrSyntaxAlterTable = 3293,
  kErrSyntaxDrop = 3295,
  kErrValueCountMismatch = 3346,
  kErrNoTableOrConstraint = 3371,
  kErrTableNotFound = 3376,
};

// The engine's message for an error number (Spanish). Unknown numbers get a
// generic text naming the number.
std::string ErrorMessage(int number);

class JetError : public std::runtime_error {
 public:
  explicit JetError(int number);
  // `detail` fills the placeholder of messages that name an object
  // ("No se encuentra el archivo '...'").
  JetError(int number, const std::string& detail);

  int number() const { return number_; }
  // What filled the placeholder; empty when nothing named the object.
  const std::string& detail() const { return detail_; }

 private:
  int number_;
  std::string detail_;
};

// Failures nobody could be told of when they happened: a database let go
// by a destructor whose changes could not be put in place (pager.h). The
// program takes them before it ends and reports them; any still held when
// the process exits are printed on stderr as "Error NNNN: message".
void DeferError(const JetError& e);
std::vector<JetError> TakeDeferredErrors();

}  // namespace jet
