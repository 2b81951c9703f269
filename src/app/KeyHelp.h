#ifndef VELMORA_KEYHELP_H
#define VELMORA_KEYHELP_H

#include "core/KeyBinding.h"

#include <string>
#include <vector>

/// The key tables of every element kind and of the scene, as the Help window lists them:
/// columns of sections, each section one binding table.
namespace KeyHelp {

struct Row {
    std::string keys;        ///< as keyText() gives them; for a heading, the kind's name
    std::string description; ///< empty for a heading and for the blank row between sections
    bool heading;
};

/// The binding tables in the Help window's order, one list a column.
std::vector<std::vector<const BindingTable *>> columns();
/// Every table of the Help window, in order.
std::vector<const BindingTable *> tables();
/// The rows of one column: a heading for each table, its rows that a key of the keyboard
/// runs, a blank row between tables.
std::vector<Row> rows(const std::vector<const BindingTable *> &column);

} // namespace KeyHelp

#endif
