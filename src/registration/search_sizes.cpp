#include "registration/search_sizes.h"

namespace lumet {

SearchSizes ChooseSearchSizes(int ransacFirst, int ransacSecond, int pairCount) {
  if (ransacSecond > pairCount) return SearchSizes{pairCount - 5, pairCount - 1};
  return SearchSizes{ransacFirst, ransacSecond};
}

}  // namespace lumet
