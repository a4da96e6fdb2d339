#!/usr/bin/env node
// Compares a database that maquetor.exe wrote under Wine with the one the
// Linux build wrote for the same call, through both independent readers:
// mdbtools (mdb-ver, mdb-tables, mdb-schema, mdb-export of every table,
// system tables included) and mdb-reader (tools/mdbreader/dump.js --system).
// Tables, columns and rows must match one by one, except for the values the
// caller names, which differ by nature and are checked, then masked:
//
//   node tools/wine/compare_databases.mjs [--password PWD]
//        [--place TABLE.COLUMN WINDOWS_VALUE LINUX_VALUE]...
//        [--time TABLE.COLUMN]... --windows-run START END --linux-run START END
//        WINDOWS_FILE LINUX_FILE
//
// --place: every value of the column is WINDOWS_VALUE in the Windows file and
//          LINUX_VALUE in the Linux one (a path on each system).
// --time:  every value of the column is a local time within its own run,
//          START to END, both local times "YYYY-MM-DD HH:MM:SS" as the runs'
//          own clock gave them: times the engine stamped while it wrote.
// Prints what it compared; on any difference prints them (the first three
// of each reader and table) and exits 1. Exit 2 on bad usage or when a reader fails.
import { execFileSync } from "node:child_process";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const kDumpScript = join(dirname(fileURLToPath(import.meta.url)), "..", "mdbreader", "dump.js");
const kNull = "<null>";
const kShownPerGroup = 3;
const kStamp = /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/;

function fail(message, status = 2) {
  process.stderr.write(`compare_databases: ${message}\n`);
  process.exit(status);
}

function parseArgs(argv) {
  const options = { password: undefined, places: [], times: [], runs: {}, files: [] };
  const columnOf = (named) => {
    const dot = named.indexOf(".");
    if (dot <= 0 || dot === named.length - 1) fail(`'${named}' is not TABLE.COLUMN`);
    return { table: named.slice(0, dot), column: named.slice(dot + 1) };
  };
  for (let i = 0; i < argv.length; i++) {
    const need = (n) => {
      if (i + n >= argv.length) fail(`${argv[i]} needs ${n} value(s)`);
      const values = argv.slice(i + 1, i + 1 + n);
      i += n;
      return values;
    };
    const arg = argv[i];
    if (arg === "--password") {
      [options.password] = need(1);
    } else if (arg === "--place") {
      const [named, windows, linux] = need(3);
      options.places.push({ ...columnOf(named), windows, linux });
    } else if (arg === "--time") {
      options.times.push(columnOf(need(1)[0]));
    } else if (arg === "--windows-run" || arg === "--linux-run") {
      const [start, end] = need(2);
      if (![start, end].every((t) => kStamp.test(t)) || start > end) {
        fail(`${arg} needs START <= END, each YYYY-MM-DD HH:MM:SS`);
      }
      options.runs[arg === "--windows-run" ? "windows" : "linux"] = { start, end };
    } else if (arg.startsWith("--")) {
      fail(`unknown option ${arg}`);
    } else {
      options.files.push(arg);
    }
  }
  if (options.files.length !== 2) fail("give WINDOWS_FILE and LINUX_FILE");
  if (options.times.length && !(options.runs.windows && options.runs.linux)) {
    fail("--time needs --windows-run and --linux-run");
  }
  return options;
}

function run(program, args) {
  try {
    return execFileSync(program, args, { encoding: "utf8", maxBuffer: 1 << 28 });
  } catch (error) {
    fail(`${program} ${args.join(" ")} failed: ${error.stderr || error.message}`);
  }
}

// mdb-export's CSV: fields quoted with doubled quotes inside, line breaks
// possible inside quotes, rows ended by "\n".
function parseCsv(text) {
  const rows = [];
  let row = [];
  let field = "";
  let quoted = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') {
        field += '"';
        i++;
      } else if (c === '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c === '"') {
      quoted = true;
    } else if (c === ",") {
      row.push(field);
      field = "";
    } else if (c === "\n") {
      row.push(field);
      rows.push(row);
      row = [];
      field = "";
    } else {
      field += c;
    }
  }
  if (field !== "" || row.length) rows.push([...row, field]);
  return rows;
}

// A file as the readers see it: { version, tables, systemTables, schema,
// exports: {table: {header, rows}}, dump }.
function read(file, password) {
  const lines = (text) => text.split("\n").filter((line) => line !== "");
  const seen = {
    version: run("mdb-ver", [file]).trim(),
    tables: lines(run("mdb-tables", ["-1", file])),
    allTables: lines(run("mdb-tables", ["-1", "-S", file])),
    schema: run("mdb-schema", [file]).split("\n"),
    exports: {},
  };
  for (const table of seen.allTables) {
    const csv = parseCsv(run("mdb-export", ["-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S",
                                            "-b", "hex", "-0", kNull, file, table]));
    seen.exports[table] = { header: csv[0] || [], rows: csv.slice(1) };
  }
  const args = [kDumpScript, file, "--system"];
  if (password !== undefined) args.push("--password", password);
  seen.dump = JSON.parse(run(process.execPath, args));
  return seen;
}

class Comparison {
  constructor(options) {
    this.options = options;
    this.differences = [];
    this.masked = new Map();  // "TABLE.COLUMN" -> values masked, both readers
  }

  // `where` starts with the reader and the table: at most three differences
  // of each are printed, and the number of the rest.
  differ(where, message) {
    this.differences.push({ group: where.split(" ").slice(0, 2).join(" "), text: `${where}: ${message}` });
  }

  // The value seen on `side` at `table`.`column`, masked when the caller
  // named that column; a value that breaks the caller's rule is reported.
  mask(side, table, column, value, where) {
    for (const place of this.options.places) {
      if (place.table !== table || place.column !== column) continue;
      const expected = place[side];
      if (value !== expected) {
        this.differ(where, `${side} holds ${JSON.stringify(value)}, expected ${JSON.stringify(expected)}`);
      }
      if (side === "windows") this.count(place);
      return `<place ${table}.${column}>`;
    }
    for (const time of this.options.times) {
      if (time.table !== table || time.column !== column) continue;
      // mdb-export prints the stored wall-clock time as asked; mdb-reader
      // prints the same as an ISO string marked Z.
      const { start, end } = this.options.runs[side];
      const stamp = typeof value === "string" ? value.replace("T", " ").replace(/\.000Z$/, "") : "";
      if (!kStamp.test(stamp) || stamp < start || stamp > end) {
        this.differ(where, `${side} holds ${JSON.stringify(value)}, not a local time between ` +
                           `${start} and ${end} (its run)`);
      }
      if (side === "windows") this.count(time);
      return `<time ${table}.${column}>`;
    }
    return value;
  }

  count(rule) {
    const key = `${rule.table}.${rule.column}`;
    this.masked.set(key, (this.masked.get(key) || 0) + 1);
  }

  same(where, windows, linux) {
    const a = JSON.stringify(windows);
    const b = JSON.stringify(linux);
    if (a !== b) this.differ(where, `windows ${a}, linux ${b}`);
    return a === b;
  }

  lists(where, windows, linux) {
    if (windows.length !== linux.length) {
      this.differ(where, `windows has ${windows.length}, linux ${linux.length}`);
    }
    const n = Math.min(windows.length, linux.length);
    for (let i = 0; i < n; i++) {
      if (windows[i] !== linux[i]) {
        this.differ(`${where} line ${i + 1}`, `windows ${JSON.stringify(windows[i])}, ` +
                                              `linux ${JSON.stringify(linux[i])}`);
        return;
      }
    }
  }

  rows(where, table, columns, windowsRows, linuxRows, cell) {
    if (windowsRows.length !== linuxRows.length) {
      this.differ(where, `windows has ${windowsRows.length} rows, linux ${linuxRows.length}`);
    }
    const n = Math.min(windowsRows.length, linuxRows.length);
    for (let r = 0; r < n; r++) {
      columns.forEach((column, c) => {
        const at = `${where} row ${r + 1} ${column}`;
        const a = this.mask("windows", table, column, cell(windowsRows[r], column, c), at);
        const b = this.mask("linux", table, column, cell(linuxRows[r], column, c), at);
        this.same(at, a, b);
      });
    }
    return n;
  }
}

function compare(options) {
  const [windowsFile, linuxFile] = options.files;
  const w = read(windowsFile, options.password);
  const l = read(linuxFile, options.password);
  const cmp = new Comparison(options);
  const report = [];

  cmp.same("mdb-ver", w.version, l.version);
  cmp.lists("mdb-tables", w.tables, l.tables);
  cmp.lists("mdb-tables -S", w.allTables, l.allTables);
  if (!w.tables.length) cmp.differ("mdb-tables", "the Windows file has no table");
  cmp.lists("mdb-schema", w.schema, l.schema);
  report.push(`mdb-ver ${w.version}; mdb-tables: ${w.tables.length} tables ` +
              `(${w.allTables.length} with the system's); mdb-schema: ${w.schema.length} lines`);

  let exportRows = 0;
  for (const table of w.allTables.filter((t) => l.exports[t])) {
    const a = w.exports[table];
    const b = l.exports[table];
    if (!cmp.same(`mdb-export ${table} header`, a.header, b.header)) continue;
    exportRows += cmp.rows(`mdb-export ${table}`, table, a.header, a.rows, b.rows,
                           (row, _column, c) => (c < row.length ? row[c] : "<missing>"));
  }
  report.push(`mdb-export: ${w.allTables.length} tables, ${exportRows} rows`);

  cmp.same("mdb-reader creationDate", w.dump.creationDate, l.dump.creationDate);
  cmp.same("mdb-reader sortOrder", w.dump.sortOrder, l.dump.sortOrder);
  const byName = new Map(l.dump.tables.map((t) => [t.name, t]));
  cmp.lists("mdb-reader tables", w.dump.tables.map((t) => t.name), l.dump.tables.map((t) => t.name));
  let dumpRows = 0;
  for (const a of w.dump.tables) {
    const b = byName.get(a.name);
    if (!b) continue;
    const where = `mdb-reader ${a.name}`;
    if (a.error || b.error) {
      cmp.same(`${where} error`, a.error, b.error);
      continue;
    }
    cmp.same(`${where} rowCount`, a.rowCount, b.rowCount);
    if (!cmp.same(`${where} columns`, a.columns, b.columns)) continue;
    dumpRows += cmp.rows(where, a.name, a.columns.map((c) => c.name), a.rows, b.rows,
                         (row, column) => row[column]);
  }
  report.push(`mdb-reader: ${w.dump.tables.length} tables, ${dumpRows} rows`);

  const rules = [...options.places, ...options.times].map((r) => `${r.table}.${r.column}`);
  for (const rule of rules) {
    if (!cmp.masked.has(rule)) cmp.differ(rule, "named to be masked, but no such value was read");
  }
  const masked = [...cmp.masked].map(([rule, n]) => `${rule} (${n})`).join(", ");
  if (masked) report.push(`masked, with the number of values read by both readers: ${masked}`);
  return { cmp, report };
}

const options = parseArgs(process.argv.slice(2));
const { cmp, report } = compare(options);
for (const line of report) process.stdout.write(`  ${line}\n`);
if (cmp.differences.length) {
  process.stdout.write(`  DIFFERENT (${cmp.differences.length}):\n`);
  const shown = new Map();
  for (const d of cmp.differences) {
    const n = (shown.get(d.group) || 0) + 1;
    shown.set(d.group, n);
    if (n <= kShownPerGroup) process.stdout.write(`    ${d.text}\n`);
  }
  for (const [group, n] of shown) {
    if (n > kShownPerGroup) process.stdout.write(`    ${group}: ${n - kShownPerGroup} more\n`);
  }
  process.exit(1);
}
process.stdout.write("  same\n");
