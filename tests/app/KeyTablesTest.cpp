// The binding tables drive the keys, the panels and the Help window; README describes the
// same keys. These tests keep the three from drifting apart.
#include "app/KeyHelp.h"
#include "core/KeyBinding.h"
#include "core/KeyCodes.h"
#include "objects/GLMeshObject.h"
#include "objects/GLSMeshObject.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<int> keyedKeys(const BindingTable &table)
{
    std::set<int> keys;
    for (const KeyBinding &row : table)
        if (!row.panelOnly())
            for (int k : row.keyList())
                keys.insert(k);
    return keys;
}

// The key named by a README cell's token: a backticked character or a key's name.
int keyOfName(const std::string &name)
{
    // From the space up: below it only control characters, which keyName gives as numbers.
    for (int k = ' '; k < 0x10000; ++k)
        if (keyName(k) == name)
            return k;
    return -1;
}

// Every key the first cell of a README table row names: backticked characters and the words
// keyName gives to the keys that have no character.
std::set<int> keysOfCell(std::string cell)
{
    std::set<int> keys;
    for (size_t open; (open = cell.find('`')) != std::string::npos;) {
        const size_t close = cell.find('`', open + 1);
        if (close == std::string::npos)
            break;
        keys.insert(keyOfName(cell.substr(open + 1, close - open - 1)));
        cell.erase(open, close - open + 1);
    }
    for (const char *word : {"Page Up", "Page Down", "Space", "Return", "Escape", "Left", "Right"})
        for (size_t at; (at = cell.find(word)) != std::string::npos;) {
            keys.insert(keyOfName(word));
            cell.erase(at, std::string(word).size());
        }
    return keys;
}

// README's key tables, each after a line "<!-- keys: KIND -->", by kind.
std::map<std::string, std::set<int>> readmeKeyTables()
{
    std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/README.md");
    std::map<std::string, std::set<int>> tables;
    std::string line, kind;
    bool inTable = false;
    while (std::getline(in, line)) {
        const std::string marker = "<!-- keys: ";
        if (line.rfind(marker, 0) == 0) {
            kind = line.substr(marker.size(), line.find(" -->") - marker.size());
            EXPECT_EQ(tables.count(kind), 0u) << "two README tables for " << kind;
            tables[kind];
            inTable = false;
            continue;
        }
        if (kind.empty())
            continue;
        if (line.rfind("|", 0) != 0) {
            if (inTable)
                kind.clear();
            continue;
        }
        inTable = true;
        const std::string cell = line.substr(1, line.find('|', 1) - 1);
        if (cell == " Key " || cell.find("---") != std::string::npos)
            continue;
        for (int k : keysOfCell(cell))
            tables[kind].insert(k);
    }
    return tables;
}

TEST(KeyTables, ReadmeHelpAndBindingTablesNameTheSameKeys)
{
    const auto readme = readmeKeyTables();
    std::set<std::string> kinds;
    for (const auto &column : KeyHelp::columns()) {
        const std::vector<KeyHelp::Row> rows = KeyHelp::rows(column);
        for (const BindingTable *table : column) {
            const std::string kind = table->getKind();
            kinds.insert(kind);
            const std::set<int> keys = keyedKeys(*table);
            ASSERT_EQ(readme.count(kind), 1u) << "README has no key table for " << kind;
            EXPECT_EQ(readme.at(kind), keys) << "README's " << kind << " keys";

            // The Help window shows each keyed row once, under the table's heading.
            size_t heading = 0;
            while (heading < rows.size() && !(rows[heading].heading && rows[heading].keys.rfind(kind, 0) == 0))
                ++heading;
            ASSERT_LT(heading, rows.size()) << kind;
            std::set<int> shown;
            size_t r = heading + 1;
            for (const KeyBinding &row : *table) {
                if (row.panelOnly())
                    continue;
                ASSERT_LT(r, rows.size()) << kind;
                EXPECT_EQ(rows[r].keys, row.keyText()) << kind;
                EXPECT_EQ(rows[r].description, row.description) << kind;
                for (int k : row.keyList())
                    shown.insert(k);
                ++r;
            }
            EXPECT_EQ(shown, keys) << kind;
        }
    }
    for (const auto &entry : readme)
        EXPECT_EQ(kinds.count(entry.first), 1u) << "README table for " << entry.first << " matches no binding table";
}

TEST(KeyTables, EveryRowIsWholeAndNoKeyRunsTwoActionsOfOneKind)
{
    for (const BindingTable *table : KeyHelp::tables()) {
        std::set<int> seen, actions;
        for (const KeyBinding &row : *table) {
            EXPECT_TRUE(actions.insert(row.action).second) << table->getKind() << " action " << row.action;
            EXPECT_TRUE(row.description && *row.description) << table->getKind();
            // A row without a key is run from its panel control.
            EXPECT_TRUE(!row.panelOnly() || (row.label && *row.label)) << table->getKind() << " action " << row.action;
            for (int k : row.keyList()) {
                EXPECT_TRUE(seen.insert(k).second) << table->getKind() << " key " << keyName(k);
                EXPECT_EQ(table->find(k), &row) << table->getKind() << " key " << keyName(k);
                EXPECT_EQ(keyOfName(keyName(k)), k) << table->getKind() << ": key " << k << " has no name";
            }
        }
    }
}

TEST(KeyTables, ASpecialisedKindFallsBackToTheGeneralOne)
{
    const BindingTable &simplex = GLSMeshObject::bindings();
    // Its own '2' and the French keyboard's e-acute draw the dual surface...
    EXPECT_TRUE(simplex.owns(*simplex.find('2')));
    EXPECT_EQ(simplex.find(KeyCode::AZERTY_2), simplex.find('2'));
    // ... '4' and Page Up are the mesh's.
    EXPECT_EQ(simplex.find('4'), &GLMeshObject::bindings().row(actionValue(GLMeshObject::Action::DEPTH_BUFFER)));
    EXPECT_EQ(simplex.find(KeyCode::PAGE_UP), GLMeshObject::bindings().find(KeyCode::PAGE_UP));
    // A plain mesh takes '"' for the texture, but neither '&' nor e-acute.
    EXPECT_NE(GLMeshObject::bindings().find(KeyCode::AZERTY_3), nullptr);
    EXPECT_EQ(GLMeshObject::bindings().find(KeyCode::AZERTY_1), nullptr);
    EXPECT_EQ(GLMeshObject::bindings().find(KeyCode::AZERTY_2), nullptr);
    EXPECT_EQ(simplex.find('j'), nullptr);
}

} // namespace
