#!/usr/bin/env node
// Dumps a Jet database as one JSON document, read by mdb-reader, so the tests
// can compare what we write with what an independent reader sees.
//
//   node tools/mdbreader/dump.js FILE [--password PWD] [--system] [--no-rows]
//
// Output:
//   {"creationDate": ISO|null, "sortOrder": {...},
//    "tables": [{"name", "rowCount",
//                "columns": [{"name","type","size","fixedLength","nullable",
//                             "autoLong","autoUUID","precision"?,"scale"?}],
//                "rows": [{column: value, ...}, ...]}]}
//
// Values are rendered stably: dates as ISO-8601 strings in UTC, binary and OLE
// as lower-case hex, 64-bit integers as decimal strings, currency and decimal
// as the strings mdb-reader gives, null as null. Tables are listed in the
// order mdb-reader gives them; system tables only with --system (a system
// table mdb-reader cannot read appears as {"name", "error"}; an unreadable
// user table fails the whole dump).
// Exit status: 0 on success, 1 when the file cannot be read, 2 on bad usage.

import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function usage(message) {
  if (message) process.stderr.write(`dump.js: ${message}\n`);
  process.stderr.write("usage: node dump.js FILE [--password PWD] [--system] [--no-rows]\n");
  process.exit(2);
}

function parseArgs(argv) {
  const options = { file: null, password: undefined, system: false, rows: true };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === "--password") {
      if (i + 1 >= argv.length) usage("--password needs a value");
      options.password = argv[++i];
    } else if (arg === "--system") {
      options.system = true;
    } else if (arg === "--no-rows") {
      options.rows = false;
    } else if (arg.startsWith("--")) {
      usage(`unknown option ${arg}`);
    } else if (options.file === null) {
      options.file = arg;
    } else {
      usage(`unexpected argument ${arg}`);
    }
  }
  if (options.file === null) usage("no file given");
  return options;
}

function renderValue(value) {
  if (value === null || value === undefined) return null;
  if (Buffer.isBuffer(value) || value instanceof Uint8Array) {
    return Buffer.from(value).toString("hex");
  }
  if (value instanceof Date) {
    return Number.isNaN(value.getTime()) ? String(value) : value.toISOString();
  }
  if (typeof value === "bigint") return value.toString();
  if (typeof value === "number") {
    // JSON has no NaN or infinities: keep them readable instead of null.
    return Number.isFinite(value) ? value : String(value);
  }
  if (Array.isArray(value)) return value.map(renderValue);
  if (typeof value === "object") {
    const out = {};
    for (const key of Object.keys(value)) out[key] = renderValue(value[key]);
    return out;
  }
  return value;
}

function renderColumn(column) {
  const out = {
    name: column.name,
    type: column.type,
    size: column.size,
    fixedLength: column.fixedLength,
    nullable: column.nullable,
    autoLong: column.autoLong,
    autoUUID: column.autoUUID,
  };
  if (column.precision !== undefined) out.precision = column.precision;
  if (column.scale !== undefined) out.scale = column.scale;
  return out;
}

function dumpTable(reader, name, options) {
  const table = reader.getTable(name);
  const columns = table.getColumns();
  const entry = {
    name: table.name,
    rowCount: table.rowCount,
    columns: columns.map(renderColumn),
  };
  if (options.rows) {
    entry.rows = table.getData().map((row) => {
      const out = {};
      for (const column of columns) out[column.name] = renderValue(row[column.name]);
      return out;
    });
  }
  return entry;
}

function dump(options) {
  const buffer = readFileSync(options.file);
  const reader = new MDBReader(buffer, { password: options.password });
  const names = reader.getTableNames({
    normalTables: true,
    systemTables: options.system,
    linkedTables: false,
  });
  const userTables = new Set(reader.getTableNames({ normalTables: true, systemTables: false }));
  const tables = names.map((name) => {
    if (userTables.has(name)) return dumpTable(reader, name, options);
    // Some system tables hold column types mdb-reader does not know: report
    // those in place rather than losing the whole dump.
    try {
      return dumpTable(reader, name, options);
    } catch (error) {
      return { name, error: String(error && error.message ? error.message : error) };
    }
  });
  const created = reader.getCreationDate();
  return {
    creationDate: created ? renderValue(created) : null,
    sortOrder: renderValue(reader.getDefaultSortOrder()),
    tables,
  };
}

const options = parseArgs(process.argv.slice(2));
try {
  process.stdout.write(JSON.stringify(dump(options)) + "\n");
} catch (error) {
  process.stderr.write(`dump.js: ${options.file}: ${error && error.message ? error.message : error}\n`);
  process.exit(1);
}
