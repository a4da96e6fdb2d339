// The check a table's pages pass before this process first changes the
// table: its index trees and usage maps are read whole. An edit follows
// page links (child, tail, previous and next pages) and rewrites the pages
// it reaches, so a link that a damaged file, or another program, left
// wrong would spread the damage to pages that were sound. Checking first
// means a malformed table is refused before anything is written.
//
// What must hold, for every real index: each page of the tree is an index
// page of this table, reached once, parsed without fault, with a free-space
// count that agrees with its entries; entries rise within and across pages,
// every node entry is at or above its child's entries and below the next
// child's; all leaves lie at one depth; every leaf but the last names the
// next leaf, and every other link names its page's neighbour on the level
// or nothing. The table's usage maps (owned and free pages, each index's
// pages) and the database's global map must read without fault, and every
// page the table's maps list must lie inside the file.
//
// The caller holds the pager (callers serialise access). Data pages are
// not read: each is checked where a change reads it.
#pragma once

#include "jet/table.h"

namespace jet {

// 3049 when a structure above is malformed. Runs once per Table: a table
// that passed stays sound under the engine's own changes.
void CheckBeforeWriting(Table& t);

}  // namespace jet
