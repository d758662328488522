#pragma once
// The alphabetic order of a disc tree (the main window's and the organise
// window's): names compared as the browse lists compare them, the letters a
// to z without regard to case.
class QTreeWidget;

// Sorts the nodes of every level of `tree` by their text; nodes whose texts
// compare equal keep their order.
void SortTreeByName(QTreeWidget *tree);
