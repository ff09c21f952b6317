// The numbered message catalogue written to standard error by zok_serv_print.
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include "zok/core_services.h"

namespace {

enum class Args { kNone, kName, kNameIndex, kIndexValue };

struct Message {
  int number;
  Args args;
  const char* text;
};

// Every line starts with "zok-<number>:" so that logs can be searched by number.
constexpr Message kCatalogue[] = {
    {735, Args::kNameIndex, "%s: bad argument at element %d"},
    {736, Args::kName, "%s: bad argument"},
    {737, Args::kName, "%s: argument outside the domain of the function"},
    {738, Args::kName, "%s: singularity (finite argument at a pole)"},
    {739, Args::kName, "%s: result overflows"},
    {740, Args::kName, "%s: result underflows"},
    {741, Args::kName, "%s: error of unknown kind"},
    {742, Args::kIndexValue, "  element %d: argument %.17g"},
    {743, Args::kIndexValue, "  element %d: result %.17g"},
    {744, Args::kIndexValue, "  element %d: argument %.17g"},
    {745, Args::kIndexValue, "  element %d: first result %.17g"},
    {746, Args::kIndexValue, "  element %d: second result %.17g"},
    {747, Args::kIndexValue, "  element %d: first argument %.17g"},
    {748, Args::kIndexValue, "  element %d: second argument %.17g"},
    {749, Args::kIndexValue, "  element %d: result %.17g"},
    {750, Args::kIndexValue, "  element %d: first argument %.17g"},
    {751, Args::kIndexValue, "  element %d: second argument %.17g"},
    {752, Args::kIndexValue, "  element %d: first result %.17g"},
    {753, Args::kIndexValue, "  element %d: second result %.17g"},
    {760, Args::kNone, "cannot provide the per-thread vector-math state"},
};

const Message* find(int number) {
  for (const Message& m : kCatalogue)
    if (m.number == number) return &m;
  return nullptr;
}

int expected_count(Args a) {
  switch (a) {
    case Args::kNone:
      return 0;
    case Args::kName:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

extern "C" ZOK_API void zok_serv_print(int /*level*/, int msg, int argc, ...) {
  char line[512];
  int len = snprintf(line, sizeof line, "zok-%d: ", msg);
  const Message* m = find(msg);
  // Arguments are read only when their count matches the catalogue, so a wrong call cannot make
  // the formatter read what was never passed.
  if (m != nullptr && argc == expected_count(m->args)) {
    va_list ap;
    va_start(ap, argc);
    char* out = line + len;
    const size_t room = sizeof line - static_cast<size_t>(len);
    int n = 0;
    switch (m->args) {
      case Args::kNone:
        n = snprintf(out, room, "%s", m->text);
        break;
      case Args::kName: {
        const char* name = va_arg(ap, const char*);
        n = snprintf(out, room, m->text, name ? name : "?");
        break;
      }
      case Args::kNameIndex: {
        const char* name = va_arg(ap, const char*);
        const int index = va_arg(ap, int);
        n = snprintf(out, room, m->text, name ? name : "?", index);
        break;
      }
      case Args::kIndexValue: {
        const int index = va_arg(ap, int);
        const double value = va_arg(ap, double);
        n = snprintf(out, room, m->text, index, value);
        break;
      }
    }
    va_end(ap);
    if (n > 0) len += n;
  } else {
    len += snprintf(line + len, sizeof line - static_cast<size_t>(len), "%s",
                    m ? "(unexpected argument count)" : "(no catalogue text)");
  }
  if (len > static_cast<int>(sizeof line) - 2) len = static_cast<int>(sizeof line) - 2;
  line[len++] = '\n';
  // One write per line keeps lines from different threads whole.
  fflush(stderr);
  ssize_t rc = write(STDERR_FILENO, line, static_cast<size_t>(len));
  (void)rc;
}
