#include <string>
#include <vector>

#include "view/view_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  return view::runView(arguments, stdout, stderr);
}
