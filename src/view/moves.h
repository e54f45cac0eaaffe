// Finding moves among the deleted and created entries of a comparison.
#ifndef DIRLOG_VIEW_MOVES_H_
#define DIRLOG_VIEW_MOVES_H_

#include <vector>

#include "view/change.h"

namespace view {

// Turns pairs of a deleted and a created entry into moves, in place, and
// returns the changes in listing order.
//
// A deleted and a created entry pair when they alone share their type,
// size, write time and creation time: two deleted or two created entries
// with the same values are never paired, since nothing tells which went
// where. Among equal entries, those whose name is found once on each side
// pair by that name first (a folder and its subfolder made in one clock
// tick), and what is left pairs when it is one deleted and one created. Below a moved directory, an
// entry pairs with the created entry of the same path below the new place, whatever its values, as
// long as the type is the same; one that changed nothing but its place is folded into the
// directory's move (returned with `foldedInto` naming the directory's line, which lists stand for
// it), so a directory that moved whole is one move. A move lists the fields that changed besides
// the path, and its verdict is theirs (place when none did). A deleted and a created entry of
// the same path text never pair: that is no move.
std::vector<Change> findMoves(std::vector<Change> changes, char separator, LogSystem system,
                              AccessTimes access);

}  // namespace view

#endif  // DIRLOG_VIEW_MOVES_H_
