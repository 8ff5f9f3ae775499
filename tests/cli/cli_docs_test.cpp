#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/cli_runner.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers

TEST(CliDocs, ManPageAndCompletionComeFromTheOptionDefinitions) {
  TempFolder dir;
  ASSERT_EQ(RunCli("--generate-man lumet-cli.1", dir.Path()).exitCode, 0);
  ASSERT_EQ(RunCli("--generate-bash-completion lumet-cli.bash", dir.Path()).exitCode, 0);
  const std::string man = ReadText(dir.Path() / "lumet-cli.1");
  const std::string completion = ReadText(dir.Path() / "lumet-cli.bash");
  EXPECT_EQ(man.rfind(".TH LUMET\\-CLI 1", 0), 0u) << man.substr(0, 80);
  for (const char* text : {".SS run", ".SS reconstruct", "\\fB\\-\\-format\\fR \\fIbmp|png|tiff|exr\\fR",
                           "\\fB\\-\\-depth\\fR \\fIauto|8|16|half|float\\fR",
                           "\\fB\\-\\-lr\\-count\\fR \\fIN|auto\\fR", "\\fB\\-C\\fR \\fIDIR\\fR"}) {
    EXPECT_NE(man.find(text), std::string::npos) << text;
  }
  EXPECT_NE(completion.find("--format) COMPREPLY=($(compgen -W \"bmp png tiff exr\""), std::string::npos) << completion;
  EXPECT_NE(completion.find("--scale) COMPREPLY=($(compgen -W \"2 3 4\""), std::string::npos);
  EXPECT_NE(completion.find("complete -F _lumet_cli lumet-cli"), std::string::npos);
  // The script is valid bash, and completes a command's options.
  const std::string script = (dir.Path() / "lumet-cli.bash").string();
  const std::string check = "bash -c 'source \"" + script +
                            "\" && COMP_WORDS=(lumet-cli run --for) COMP_CWORD=2 && _lumet_cli && "
                            "[ \"${COMPREPLY[*]}\" = --format ]'";
  EXPECT_EQ(std::system(check.c_str()), 0);
}

}  // namespace
}  // namespace lumet
