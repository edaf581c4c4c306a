"""scripts/mutate's own logic: the mutants it makes of C++ and Python, and which files it picks."""

import ast
import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import types
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "mutate"))
import cpp_mutants  # noqa: E402
import py_mutants  # noqa: E402
import python_imports  # noqa: E402
import python_reach  # noqa: E402
import python_runner  # noqa: E402
import selection  # noqa: E402
import tally  # noqa: E402

CPP = textwrap.dedent("""\
    #include <cstddef>
    #if LIMIT < 2
    #define SMALL 1
    #endif
    // a comment: if (a < b) return c && d;
    /* a block comment: x = y + 1; */
    template <typename T, std::size_t N>
    struct Box {
      T items[N];
      const T& operator[](int i) const { return items[i]; }
    };
    template <typename Items>
    int Pick(const Items& items, int limit, bool strict) {
      const char* text = "a < b && c || true";
      const char quote = '<';
      int count = 0;
      for (int i = 0; i < limit; ++i) {
        if (items[i] >= limit || strict) return -1;
        count += 2;
      }
      if (count == 0x10) Pick(items, limit - 1, false);
      while (count > 0 && text[0] != quote) --count;
      const bool again = strict;
      if (again) Pick(items, count, again);
      return count;
    }
    """)


def descriptions(found):
    return [mutant.description for mutant in found]


class CppMutants(unittest.TestCase):
    def test_comments_literals_and_preprocessor_lines_are_never_touched(self):
        untouchable = [CPP.index(part) for part in ("#include", "#if LIMIT", "#define", "// a comment",
                                                    "/* a block", '"a < b', "'<'", "<typename T, std")]
        ends = [CPP.index("\n", start) for start in untouchable]
        for mutant in cpp_mutants.mutants(CPP):
            for start, end in zip(untouchable, ends):
                self.assertFalse(start <= mutant.start < end, mutant)

    def test_template_brackets_stay_and_comparisons_turn(self):
        found = cpp_mutants.mutants(CPP)
        turned = {(mutant.line, mutant.description) for mutant in found if "->" in mutant.description
                  and mutant.description.split()[0] in ("<", "<=", ">", ">=", "==", "!=", "&&", "||")}
        self.assertEqual({(17, "< -> <="), (18, ">= -> >"), (18, "|| -> &&"), (21, "== -> !="),
                          (22, "> -> >="), (22, "&& -> ||"), (22, "!= -> ==")}, turned)

    def test_each_mutant_is_the_intended_change_and_still_compiles(self):
        found = cpp_mutants.mutants(CPP)
        by_description = {mutant.description: mutant for mutant in found}
        expected = {
            "true -> false": None,  # only in the string: none
            "false -> true": "Pick(items, limit - 1, true);",
            "0x10 -> 0x11": "count == 0x11",
            "0x10 -> 0xf": "count == 0xf",
            "if (items[i] >= limit || strict) -> if (!(...))": "if (!(items[i] >= limit || strict)) return -1;",
            "drop `return -1;`": "if (items[i] >= limit || strict) {}",
            "drop `count += 2;`": "{}\n  }",
            "drop `--count;`": "text[0] != quote) {}",
            "while (count > 0 && text[0] != quote) -> while (!(...))": "while (!(count > 0 && text[0] != quote))",
            # A bool passed or stored, never one that is only read.
            "strict -> true": "const bool again = true;",
            "strict -> false": "const bool again = false;",
            "again -> false": "Pick(items, count, false);",
        }
        for description, fragment in expected.items():
            if fragment is None:
                self.assertNotIn(description, by_description)
            else:
                self.assertIn(fragment, by_description[description].apply(CPP), description)
        # Declarations are never dropped, nor the function's last return (either would only break the build).
        self.assertFalse([d for d in descriptions(found) if d.startswith("drop `int count") or d == "drop `return count;`"])
        self.assertEqual(1, descriptions(found).count("again -> true"), "if (again) reads it: only the call passes it")
        compiler = shutil.which("g++")
        if compiler is None:
            self.fail("g++ is needed to check that mutants compile")
        with tempfile.TemporaryDirectory() as folder:
            for mutant in found:
                source = Path(folder) / "mutant.cpp"
                source.write_text(mutant.apply(CPP) + "template int Pick(const Box<int, 4>&, int, bool);\n")
                built = subprocess.run([compiler, "-std=c++20", "-fsyntax-only", "-DLIMIT=3", str(source)],
                                       capture_output=True, text=True)
                self.assertEqual(0, built.returncode, f"{mutant}: {built.stderr}")

    def test_pure_virtual_functions_keep_their_zero(self):
        source = "struct View {\n  virtual bool Show() = 0;\n  virtual int Size() const = 0;\n  int count = 0;\n};\n"
        self.assertEqual([(4, "0 -> 1")], [(mutant.line, mutant.description) for mutant in cpp_mutants.mutants(source)])

    def test_the_tokenizer_keeps_raw_strings_and_line_numbers(self):
        source = 'auto s = R"x(a < b\n)" )x";\nbool b = s.size() < 3;\n'
        found = cpp_mutants.mutants(source)
        self.assertEqual([(3, "< -> <="), (3, "3 -> 2"), (3, "3 -> 4")],
                         [(mutant.line, mutant.description) for mutant in found])

    def test_capacity_hints_are_neither_changed_nor_dropped(self):
        source = ("std::string Join(const std::string& a, std::size_t n) {\n  std::string out;\n"
                  "  out.reserve(a.size() / 2 + n);\n  if (n > 1) out += a;\n  return out;\n}\n")
        self.assertEqual([(4, "if (n > 1) -> if (!(...))"), (4, "> -> >="),
                          (4, "1 -> 0"), (4, "1 -> 2"), (4, "drop `out += a;`")],
                         [(mutant.line, mutant.description) for mutant in cpp_mutants.mutants(source)])


PYTHON = textwrap.dedent('''\
    """A docstring: if a < b: return 1"""


    def pick(items: list[int], limit: int = 3) -> int:
        """Its docstring."""
        if not items or len(items) <= limit:
            return 0
        total = 0
        for item in items:
            if item in (1, 2) and (
                    item is not None):
                continue
            total += item
        print(f"{total + 1} done")
        return total == limit


    if __name__ == "__main__":
        pick([True])
    ''')


class PythonMutants(unittest.TestCase):
    def test_each_mutant_parses_keeps_the_line_count_and_changes_one_place(self):
        found = py_mutants.mutants(PYTHON)
        self.assertTrue(found)
        for mutant in found:
            mutated = mutant.apply(PYTHON)
            ast.parse(mutated)
            self.assertEqual(PYTHON.count("\n"), mutated.count("\n"), mutant)
            self.assertEqual(PYTHON[:mutant.start], mutated[:mutant.start])
            self.assertNotEqual(ast.dump(ast.parse(PYTHON)), ast.dump(ast.parse(mutated)), mutant)

    def test_the_operators(self):
        by_description = {(mutant.line, mutant.description): mutant.apply(PYTHON)
                          for mutant in py_mutants.mutants(PYTHON)}
        expected = {
            (6, "<= -> <"): "len(items) < limit",
            (6, "or -> and"): "if (not items and len(items) <= limit):",
            (6, "if not items or len(items) <= limit -> if not (...)"): "if not (not items or len(items) <= limit):",
            (7, "drop `return 0`"): "        pass\n    total = 0",
            (10, "in -> not in"): "item not in (1, 2)",
            (11, "is not -> is"): "(item is None)",
            (10, "and -> or"): "(item in (1, 2) or item is not None\n)",
            (10, "2 -> 3"): "(1, 3)",
            (8, "0 -> -1"): "total = (-1)",
            (12, "drop `continue`"): "pass",
            (13, "drop `total += item`"): "pass",
            (15, "== -> !="): "return (total != limit)",
        }
        for key, fragment in expected.items():
            self.assertIn(key, by_description)
            self.assertIn(fragment, by_description[key], key)

    def test_docstrings_annotations_f_strings_and_the_main_block_stay(self):
        for mutant in py_mutants.mutants(PYTHON):
            self.assertNotIn(mutant.line, (1, 5, 18, 19), mutant)
            self.assertFalse(mutant.line == 14 and not mutant.description.startswith("drop"), mutant)
            self.assertFalse(mutant.line == 4 and "3 ->" not in mutant.description, mutant)

    def test_a_mutant_replaces_the_module_and_only_what_others_imported_from_it(self):
        module = types.ModuleType("mutate_test_target")
        exec("LIMIT = 3\ndef limit():\n    return LIMIT\n", vars(module))
        sys.modules[module.__name__] = module
        with tempfile.TemporaryDirectory() as folder:
            # The user's own LIMIT is the same cached int as the target's, but it is not the target's.
            user_source = Path(folder) / "mutate_test_user.py"
            user_source.write_text("from mutate_test_target import limit as target_limit\nLIMIT = 3\n")
            user = types.ModuleType("mutate_test_user")
            user.__file__ = str(user_source)
            exec(user_source.read_text(), vars(user))
            try:
                python_runner.install_mutant(module.__name__, "LIMIT = 4\ndef limit():\n    return LIMIT\n", "x.py",
                                             [user])
                self.assertEqual(4, module.limit())
                self.assertEqual(4, user.target_limit())
                self.assertEqual(3, user.LIMIT)
            finally:
                del sys.modules[module.__name__]


REACHED_MODULE = textwrap.dedent('''\
    LIMIT = 2


    def double(x, times=2):
        return x * times


    def shared(x):
        return bool(x)


    def slow_only(x):
        return -x


    def unreached(x):
        return -x


    def table():
        return [1]


    TABLE = table()
    ''')

REACHING_TESTS = textwrap.dedent('''\
    import os
    import time
    import unittest

    import reach_sample

    LOG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ran.log")


    def ran(name):
        with open(LOG, "a") as log:
            log.write(f"{os.getpid()} {name}\\n")


    def setUpModule():
        ran("setUpModule")


    class Cases(unittest.TestCase):
        # Named so that the loader runs the limit first and the slow case before the fast one.
        def test_a_limit(self):
            ran("limit")
            self.assertEqual(2, reach_sample.LIMIT)
            self.assertEqual([1], reach_sample.TABLE)

        def test_b_double(self):
            ran("double")
            self.assertEqual(4, reach_sample.double(2))

        def test_c_slow(self):
            ran("slow")
            time.sleep(1.5)
            self.assertFalse(reach_sample.shared(0))
            self.assertEqual(-2, reach_sample.slow_only(2))

        def test_fast(self):
            ran("fast")
            self.assertTrue(reach_sample.shared(1))
    ''')


class PythonRunner(unittest.TestCase):
    """A made-up module judged by made-up tests: each case logs its process and name, so the log tells
    which cases each forked run ran."""

    class Outcomes(tally.Report):
        def __init__(self):
            super().__init__(out=io.StringIO())
            self.outcomes = []

        def add(self, folder, outcome):
            super().add(folder, outcome)
            self.outcomes.append((outcome.mutant.line, outcome.mutant.description, outcome.verdict, outcome.detail))

    def run_sample(self):
        folder = Path(tempfile.mkdtemp(prefix="mutate-python-"))
        self.addCleanup(shutil.rmtree, folder)
        (folder / "tools/sample").mkdir(parents=True)
        (folder / "tests").mkdir()
        (folder / "tools/sample/reach_sample.py").write_text(REACHED_MODULE)
        (folder / "tests/test_reach_sample.py").write_text(REACHING_TESTS)
        language = selection.Language("python", ["tools/sample"], ["*.py"], [],
                                   {"tests": ["tests/test_reach_sample.py"]})
        report = self.Outcomes()
        saved_path, saved_cwd, saved_grace = list(sys.path), os.getcwd(), python_reach.GRACE
        # A time limit that only the slow case's own time can make long enough.
        python_reach.GRACE = 1.0
        try:
            with contextlib.redirect_stdout(io.StringIO()) as printed:
                python_runner.run_python(language, ["tools/sample/reach_sample.py"], report, 1, threading.Event(),
                                  root=folder)
        finally:
            python_reach.GRACE = saved_grace
            sys.path[:] = saved_path
            os.chdir(saved_cwd)
            for name in ("reach_sample", "test_reach_sample"):
                sys.modules.pop(name, None)
        runs: dict[str, list[str]] = {}
        for line in (folder / "tests/ran.log").read_text().splitlines():
            pid, name = line.split()
            runs.setdefault(pid, []).append(name)
        return report.outcomes, list(runs.values()), printed.getvalue()

    def test_each_mutant_runs_the_cases_that_reach_it_fastest_first(self):
        outcomes, runs, printed = self.run_sample()
        self.assertEqual([
            (1, "2 -> 1", "killed", ""),
            (1, "2 -> 3", "killed", ""),
            (4, "2 -> 1", "killed", ""),  # a default value: every case
            (4, "2 -> 3", "killed", ""),
            (5, "drop `return x * times`", "killed", ""),
            (9, "drop `return bool(x)`", "killed", ""),
            (13, "drop `return -x`", "killed", ""),  # reached by the slow case alone, judged within its time
            (17, "drop `return -x`", "survived", "no test reaches the line"),
            (21, "drop `return [1]`", "killed", ""),  # called at import: every case
            (21, "1 -> 0", "killed", ""),
            (21, "1 -> 2", "killed", ""),
        ], outcomes)
        self.assertEqual([
            ["setUpModule"],  # once, before the forks
            ["limit", "double", "slow", "fast"],  # the traced run
            ["limit", "double", "slow", "fast"],  # the untraced run, for the times
            ["limit"],  # module level: every case, until one fails
            ["limit"],
            ["limit", "double"],
            ["limit", "double"],
            ["double"],
            ["fast"],  # the fast case first kills it: the slow one, which it passes, never runs
            ["slow"],
            ["limit"],
            ["limit"],
            ["limit"],
        ], runs)
        self.assertIn("the unmutated run of 4 cases", printed)


def git(folder, *arguments):
    subprocess.run(["git", "-C", str(folder), *arguments], check=True, capture_output=True)


class Selection(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="mutate-"))
        self.addCleanup(shutil.rmtree, self.folder)
        git(self.folder, "init", "-q", "-b", "main")
        git(self.folder, "config", "user.email", "dev@example.com")
        git(self.folder, "config", "user.name", "dev")
        for name in ("src/actions/a.cpp", "src/actions/b.cpp", "src/actions/c_win32.cpp", "src/common/d.cpp",
                     "tools/medium/e.py", "tools/medium/f.py"):
            (self.folder / name).parent.mkdir(parents=True, exist_ok=True)
            (self.folder / name).write_text("x = 1\n" if name.endswith(".py") else "int x;\n")
        git(self.folder, "add", "-A")
        git(self.folder, "commit", "-q", "-m", "start")
        git(self.folder, "checkout", "-q", "-b", "topic")
        (self.folder / "src/actions/a.cpp").write_text("int y;\n")
        git(self.folder, "commit", "-q", "-am", "committed change")
        git(self.folder, "checkout", "-q", "main")
        (self.folder / "tools/medium/later.py").write_text("")
        git(self.folder, "add", "-A")
        git(self.folder, "commit", "-q", "-m", "main moves on")
        git(self.folder, "checkout", "-q", "topic")
        (self.folder / "src/common/d.cpp").write_text("int z;\n")  # not committed
        (self.folder / "tools/medium/g.py").write_text("x = 1\n")  # new, untracked
        (self.folder / "src/actions/c_win32.cpp").write_text("int w;\n")  # outside the mutated files
        (self.folder / "tools/medium/f.py").unlink()

    def test_changed_picks_what_the_branch_touched_since_the_merge_base(self):
        languages = selection.load_config()
        files = selection.checkout_files(self.folder)
        changed = selection.changed_files("main", self.folder)
        self.assertNotIn("tools/medium/later.py", changed)
        self.assertEqual({"cpp": ["src/actions/a.cpp", "src/common/d.cpp"], "python": ["tools/medium/g.py"]},
                         selection.select_files(languages, files, [], changed))

    def test_named_files_and_folders_narrow_the_choice(self):
        languages = selection.load_config()
        files = selection.checkout_files(self.folder)
        self.assertEqual({"cpp": ["src/actions/a.cpp", "src/actions/b.cpp"], "python": ["tools/medium/e.py"]},
                         selection.select_files(languages, files, ["src/actions/", "tools/medium/e.py"], None))
        self.assertEqual({"cpp": ["src/actions/a.cpp"], "python": []},
                         selection.select_files(languages, files, ["src/actions"],
                                             selection.changed_files("main", self.folder)))

    def test_tests_cover_the_modules_they_import_through_others(self):
        (self.folder / "tools/medium/e.py").write_text("import g\n")
        (self.folder / "tools/medium/g.py").write_text("from os import path\n")
        test = self.folder / "test_e.py"
        test.write_text("import unittest\nfrom e import x\n")
        modules = {path.stem: path for path in (self.folder / "tools/medium").glob("*.py")}
        self.assertEqual({"e": {"test_e"}, "g": {"test_e"}}, python_imports.covering_tests([test], modules))


if __name__ == "__main__":
    unittest.main()
