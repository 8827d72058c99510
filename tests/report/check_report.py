#!/usr/bin/env python3
"""sq71 report and sq71 view --json through real parsers and a real browser.

check_report.py SQ71 DATA_DIR WORK_DIR
"""
import html.parser, json, math, os, re, shutil, subprocess, sys

sq71, data, work = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args):
    return subprocess.run([sq71, *args], cwd=work, capture_output=True)


# The sample log with hostile names: markup, and bytes only Windows-1252 gives
# a meaning to (0x80 the euro sign, 0xE9 e acute, 0x81 undefined).
log = bytearray(open(os.path.join(data, "sample.ulg"), "rb").read())
names = {1: b'<b>&"\'\x80\xe9\x81', 2: b"</svg><script>x"}
for n, name in names.items():
    log[n * 64 + 5:n * 64 + 21] = name.ljust(16, b"\0")
with open(os.path.join(work, "hostile.ulg"), "wb") as f:
    f.write(log)
rows = [r.split("\t") for r in run("view", "hostile.ulg").stdout.decode("latin-1").splitlines()]
ids = [r[0] for r in rows]

result = run("report", "hostile.ulg", "--title", "Dish <north> & roof")
check(result.returncode == 0, f"report failed: {result.stderr!r}")
page = open(os.path.join(work, "hostile.html"), encoding="utf-8").read()


class Parser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.stack, self.outside, self.table_rows, self.figures = [], [], [], [], []
        self.text = {}
        self.entries_table = False

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.stack.append(tag)
        for name, value in attrs:
            inside = name == "src" and tag == "img" and value.startswith("data:image/")
            if name.startswith("on") or name in ("src", "href", "srcset", "action", "data") \
                    and not inside:
                self.outside.append((tag, name, value))
            if value and re.search(r"url\((?!#)|https?:|//", value) and name != "xmlns":
                self.outside.append((tag, name, value))
        if tag == "table":
            self.entries_table = ("class", "entries") in attrs
        if tag == "tr" and "tbody" in self.stack and self.entries_table:
            self.table_rows.append([])
        if tag == "figure":
            self.figures.append([])

    def handle_endtag(self, tag):
        while self.stack and self.stack.pop() != tag:
            pass

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        self.handle_endtag(tag)

    def handle_data(self, text):
        where = self.stack[-1] if self.stack else ""
        self.text.setdefault(where, []).append(text)
        if where == "td" and self.table_rows and "tbody" in self.stack:
            self.table_rows[-1].append(text)
        if "figure" in self.stack and where in ("text", "figcaption"):
            self.figures[-1].append(text)


tidy = subprocess.run(["tidy", "-q", "-e", "hostile.html"], cwd=work, capture_output=True)
check(tidy.returncode == 0, f"tidy: {tidy.stderr.decode()}")
p = Parser()
p.feed(page)
check(page.startswith("<!DOCTYPE html>"), "no HTML5 doctype")
check("script" not in p.tags, "the report holds a script")
check(not p.outside, f"references outside the file: {p.outside}")
css = "".join(p.text.get("style", []))
check(not re.search(r"@import|@font-face|url\((?!#)", css), "the style reaches outside the file")
check(p.tags.count("h1") == 1 and p.text["h1"] == ["Dish <north> & roof"], "title")
check(p.tags.count("section") == 3, "not three sections (summary, charts, table)")
check([r[0] for r in p.table_rows] == ids, "the table's IDs are not the view's, in order")
check(p.table_rows[1][1] == '<b>&"\'\u20ac\u00e9\ufffd', f"name read as {p.table_rows[1][1]!r}")
check(p.table_rows[2][1] == "</svg><script>x", "second name")
chart_ids = [i for f in p.figures for i in f if re.fullmatch(r"\d{5}-\d{3}", i)]
check(sorted(chart_ids) == sorted(ids), "the charts do not hold every entry once")


def browser(*args):
    subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", *args],
                   cwd=work, capture_output=True, timeout=120)


# Letter (the browser's default paper) as written, and A4 through a copy.
with open(os.path.join(work, "a4.html"), "w", encoding="utf-8") as f:
    f.write(page.replace("<style>", "<style>@page{size:A4}", 1))
browser("--screenshot=" + work + "/report.png", "--window-size=1000,1400",
        "file://" + work + "/hostile.html")
check(open(work + "/report.png", "rb").read(8) == b"\x89PNG\r\n\x1a\n", "no PNG")
for paper in ("hostile", "a4"):
    pdf = f"{work}/{paper}.pdf"
    browser("--no-pdf-header-footer", "--print-to-pdf=" + pdf, f"file://{work}/{paper}.html")
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    pages = int(re.search(r"Pages:\s+(\d+)", info).group(1))
    size = "(letter)" if paper == "hostile" else "(A4)"
    check(size in info, f"{paper}: paper size {info}")
    texts = [subprocess.run(["pdftotext", "-f", str(n), "-l", str(n), pdf, "-"],
                            capture_output=True, text=True).stdout for n in range(1, pages + 1)]
    check(all(i in "".join(texts) for i in ids), f"{paper}: an ID is missing from the PDF")
    # A chart's IDs all stand on the page of its caption (the figure's first text).
    for figure in p.figures:
        caption = figure[0]
        on = [t for t in texts if caption in t]
        check(len(on) == 1 and all(i in on[0] for i in figure if re.fullmatch(r"\d{5}-\d{3}", i)),
              f"{paper}: chart '{caption}' is split or missing")

entries = json.loads(run("view", "--json", "hostile.ulg").stdout)
fields = {"record": int, "id": str, "id_major": int, "id_minor": int, "status": int, "name": str,
          "longitude_deg_east": float, "rf_level_dbuv": float, "rf_level_dbm": float,
          "rf_level_dbmv": float, "rf_level_marker": str, "locked": bool, "pilots": bool,
          "iq_swap": bool, "mer_db": float, "mer_marker": str, "qber": float, "qber_marker": str,
          "nominal_frequency_khz": int, "measured_frequency_khz": int,
          "nominal_symbol_rate_kbd": int, "measured_symbol_rate_kbd": int, "standard": str,
          "standard_number": int, "code_rate": str, "code_rate_index": int,
          "required_esn0_db": float, "margin_db": float, "margin_marker": str, "verdict": str}
check([e["id"] for e in entries] == ids, "JSON IDs")
for e in entries:
    check(set(e) == set(fields), f"{e['id']}: fields {set(e) ^ set(fields)}")
    for name, kind in fields.items():
        value = e.get(name)
        check(value is None and kind is float or isinstance(value, (int, float) if kind is float
                                                             else kind), f"{e['id']} {name}")
    if e["margin_db"] is not None:
        check(math.isclose(e["margin_db"], e["mer_db"] - e["required_esn0_db"], abs_tol=1e-9),
              f"{e['id']}: margin")
check(entries[1]["name"] == '<b>&"\'\u20ac\u00e9\ufffd', "JSON name")
check(entries[0]["mer_db"] == float(rows[0][13]), "JSON MER is not the view's")

# Nothing to report, and the log itself as the output: refused, nothing lost.
with open(os.path.join(work, "empty.ulg"), "wb") as f:
    f.write(b"\xff" * 65536)
for args, message in ((["empty.ulg"], "No logging data present"),
                      (["hostile.ulg", "-o", "hostile.ulg"], "is the log file itself")):
    result = run("report", *args)
    check(result.returncode == 1 and message in result.stderr.decode(), f"report {args}")
check(not os.path.exists(os.path.join(work, "empty.html")), "empty.html written")
check(open(os.path.join(work, "hostile.ulg"), "rb").read() == bytes(log), "the log was changed")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
