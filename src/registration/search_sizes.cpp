#include "registration/search_sizes.h"

#include "util/text_format.h"

namespace lumet {

SearchSizes ChooseSearchSizes(int ransacFirst, int ransacSecond, int pairCount) {
  if (ransacSecond > pairCount) return SearchSizes{pairCount - 5, pairCount - 1};
  return SearchSizes{ransacFirst, ransacSecond};
}

std::string FormatMaeLine(int k, double e1, double e2) {
  return "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n" + "\n";
}

}  // namespace lumet
