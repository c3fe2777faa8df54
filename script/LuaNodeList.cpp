// The list of nodes under the pointer and its sort, deepest first.
#include <utility>

#include "script/Lua_un.h"

CLuaNodeList::CLuaNodeList() = default;

CLuaNodeList::~CLuaNodeList() = default;

void CLuaNodeList::Clear() {
  Items.resize(1);
  Count = 0;
}

void CLuaNodeList::Push(CLuaNode* node) {
  if (static_cast<size_t>(Count) >= Items.size())
    Items.resize(Count > 0 ? static_cast<size_t>(Count) * 2 : 1);
  Items[Count] = node;
  ++Count;
}

void CLuaNodeList::SortByDepth() {
  Items.resize(Count);
  if (Count > 1) QuickSort(0, Count - 1);
}

void CLuaNodeList::QuickSort(int32_t first, int32_t last) {
  // The two parts of a partition are disjoint, so sorting the smaller one by recursion and the
  // larger one by looping gives the same order as recursing into both, with a stack of at most
  // log2(Count) frames.
  while (first < last) {
    int32_t i = first;
    int32_t j = last;
    const float pivot = static_cast<float>(Items[first + (last - first) / 2]->Depth);
    do {
      while (static_cast<float>(Items[i]->Depth) > pivot) ++i;
      while (static_cast<float>(Items[j]->Depth) < pivot) --j;
      if (i <= j) {
        std::swap(Items[i], Items[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - first < last - i) {
      if (first < j) QuickSort(first, j);
      first = i;
    } else {
      if (i < last) QuickSort(i, last);
      last = j;
    }
  }
}
