// The stored description of a data grid: its settings and its columns as a JSON document, the
// way a dialog keeps the design of its grid.
//
// Writing follows the column model's rules: a column property that follows the grid (never set
// explicitly) is not written, nor is an explicit value equal to what the grid would give; cell
// texts are not part of a description. Reading checks the whole document before it changes the
// grid, then applies it with the column synchronisation suspended, so that the stored column
// list, not the column count, decides the columns.
#pragma once

#include <QByteArray>
#include <QString>

namespace grid {

class TDataGrid;

QByteArray SaveGridDescription(TDataGrid& grid);

// True iff the description was applied. On false the grid is unchanged and error (when given)
// says what was refused and where.
bool LoadGridDescription(TDataGrid& grid, const QByteArray& description, QString* error = nullptr);

} // namespace grid
