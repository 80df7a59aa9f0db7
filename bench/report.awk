# The one table of bench/run.sh: reads the benchmark CSV files, the hyperfine
# CSV files and the memory lines that run.sh hands over as variables, and
# prints the figures side by side with their ratios and targets.
#
# Times: "cpu" is the process's CPU time (user + system), which is what the
# wall time would be on an idle machine; "wall" is the elapsed time under the
# load the run shared the machine with. Targets are judged on cpu.

function trim(s) { gsub(/^"|"$/, "", s); return s }

# Google Benchmark CSV (context lines first, then a header line "name,...").
function read_bench(file, prefix,    line, n, f, i, col, name, real, cpu) {
    delete col
    while ((getline line < file) > 0) {
        n = split(line, f, ",")
        if (f[1] == "name") {
            for (i = 1; i <= n; i++) col[trim(f[i])] = i
            continue
        }
        if (!("name" in col)) continue
        name = trim(f[1])
        if (name ~ /_(mean|median|stddev|cv)$/) continue
        sub(/\/real_time$/, "", name)
        sub(/\/process_time$/, "", name)  # timed by the whole process's CPU (the JSON load)
        name = prefix name
        # The best of the repetitions: other work on a shared machine only ever adds time.
        real = f[col["real_time"]] / 1000      # seconds (benchmarks report ms)
        cpu = f[col["cpu_time"]] / 1000
        if (!(name in B) || real < B[name, "real"]) B[name, "real"] = real
        if (!(name in B) || cpu < B[name, "cpu"]) B[name, "cpu"] = cpu
        B[name, "script"] = f[col["script_MB"]]
        B[name, "input"] = f[col["input_MB"]]
        B[name, "vertices"] = f[col["vertices"]]
        B[name, "label"] = trim(f[col["label"]])
        B[name, "error"] = trim(f[col["error_message"]])
        B[name] = 1
    }
    close(file)
}

# hyperfine CSV: command,mean,stddev,median,user,system,min,max
function read_hyper(file,    line, f) {
    while ((getline line < file) > 0) {
        split(line, f, ",")
        if (f[1] == "command") continue
        H[f[1], "wall"] = f[4]
        H[f[1], "cpu"] = f[5] + f[6]
        H[f[1]] = 1
    }
    close(file)
}

# "memory X: key=value ..." lines of export_bench --memory
function mem(line, key,    n, f, i, kv) {
    n = split(line, f, " ")
    for (i = 1; i <= n; i++) {
        split(f[i], kv, "=")
        if (kv[1] == key) return kv[2] + 0
    }
    return -1
}

function mbs(name, basis) { return B[name, "script"] / B[name, basis] }
function fmt_mbs(v) { return sprintf("%.0f MB/s", v) }
function yesno(ok) { return ok ? "yes" : "NO" }

function row(figure, cpu, wall, compare, ratio, target, met) {
    printf "%-44s %13s %13s  %-34s %9s  %-16s %s\n", figure, cpu, wall, compare, ratio, target, met
}
function rule() {
    printf "%s\n", "-------------------------------------------------------------------------------------------------------------------------------------------------"
}
function section(title) { printf "\n%s\n", title }

# A whole command's peak against its own footprint (a one-triangle scene), the
# scene it loaded (measured in process) and what the export may add to it: the
# largest table and the file buffer.
# limit: the ratio allowed, and how the target says it.
function command_peak(figure, peak_kb, line, limit, target,    scene, allowed, ok) {
    scene = mem(line, "loaded_kB") - mem(line, "before_kB")
    allowed = rss_qsx_base + scene + mem(line, "largest_table_kB") + mem(line, "file_buffer_kB")
    ok = peak_kb <= limit * allowed
    row(figure, sprintf("%.0f MB", peak_kb / 1024), "", sprintf("footprint %.0f + scene %.0f + table, buffer", rss_qsx_base / 1024, scene / 1024),
        sprintf("%.2fx", peak_kb / allowed), target, yesno(ok))
    all_ok = all_ok && ok
}

# The other qsxexport (BENCH_BEFORE) on the same file, against the same assimp run.
function before_row(key, file, assimp,    k) {
    k = "before_" key
    if (before == "" || !(k in H)) return
    row("  before: qsxexport --batch " file, sprintf("%.2f s", H[k, "cpu"]), sprintf("%.2f s", H[k, "wall"]),
        "its time ratio (cpu | wall)", sprintf("%.2f|%.2f", H[k, "cpu"] / H[assimp, "cpu"], H[k, "wall"] / H[assimp, "wall"]), "", "")
}

function core_block(scene, check, sum,    f, m, one, sn, fast, ref, cpu_mbs, ok) {
    f = "export_file/" scene; m = "export_memory/" scene; one = "one_write/" scene
    sn = "numbers_snprintf/" scene; fast = "numbers_fast/" scene; ref = "ref:export_file/" scene
    if (!(f in B)) { row("core, " scene, "missing", "", "", "", "", "NO"); return }
    section(sprintf("Export core, %s x%s (in-memory scene, default options; %.1f MB of script, %d output vertices)", scene, base, B[f, "script"], B[f, "vertices"]))
    cpu_mbs = mbs(f, "cpu")
    ok = cpu_mbs >= 300
    row("  scene -> file", fmt_mbs(cpu_mbs), fmt_mbs(mbs(f, "real")), "", "", ">= 300 MB/s", yesno(ok))
    all_ok = all_ok && ok
    row("    per output vertex", sprintf("%.0f ns", B[f, "cpu"] * 1e9 / B[f, "vertices"]), sprintf("%.0f ns", B[f, "real"] * 1e9 / B[f, "vertices"]), "", "", "", "")
    ok = mbs(m, "cpu") >= 1500
    row("  scene -> memory", fmt_mbs(mbs(m, "cpu")), fmt_mbs(mbs(m, "real")), "", "", ">= 1500 MB/s", yesno(ok))
    all_ok = all_ok && ok
    row("  floor: one write of the same bytes", fmt_mbs(mbs(one, "cpu")), fmt_mbs(mbs(one, "real")),
        "export time / one-write time (wall)", sprintf("%.2fx", B[f, "real"] / B[one, "real"]), "", "")
    ok = B[sn, "cpu"] / B[f, "cpu"] >= 3
    row("  floor: same numbers through snprintf", fmt_mbs(mbs(sn, "cpu")), fmt_mbs(mbs(sn, "real")),
        "core speed / snprintf numbers' speed", sprintf("%.1fx", B[sn, "cpu"] / B[f, "cpu"]), ">= 3x", yesno(ok))
    all_ok = all_ok && ok
    if (ref in B)
        row("  whole export, snprintf build -> file", fmt_mbs(mbs(ref, "cpu")), fmt_mbs(mbs(ref, "real")),
            "core speed / snprintf build's speed", sprintf("%.1fx", B[ref, "cpu"] / B[f, "cpu"]), "", "")
    row("  same numbers through the core's formatter", fmt_mbs(mbs(fast, "cpu")), fmt_mbs(mbs(fast, "real")),
        "its time / the core's time (cpu)", sprintf("%.0f%%", 100 * B[fast, "cpu"] / B[f, "cpu"]), "", "")
    ok = check == "same" && B[m, "label"] == B["ref:export_memory/" scene, "label"]
    row("  script bytes vs snprintf build", check, "", "sha256 " sum ", " B[m, "label"], "", "identical", yesno(ok))
    all_ok = all_ok && ok
}

BEGIN {
    all_ok = 1
    read_bench(core, "")
    read_bench(ref, "ref:")
    nscales = split(scales, S, " ")
    for (i = 2; i <= nscales; i++) read_bench(coredir "/core_x" S[i] ".csv", "x" S[i] ":")
    read_hyper(e2e)
    read_hyper(lin)
    read_hyper(settings)
    read_bench(reader, "")

    printf "qsxexport: what an export costs (%s run)\n", quick == 1 ? "quick, 1/8 size" : "full"
    printf "  heavy x%s: %s\n  wide  x%s: %s\n", base, size_heavy, base, size_wide
    printf "  %d cores, load average %s at the end; cpu = user+system time of the process (an idle machine's wall time),\n", cores, load
    printf "  wall = elapsed time under that load; targets are judged on cpu. Benchmarks: best of the repetitions;\n"
    printf "  whole commands: hyperfine's median wall time and mean user+system time.\n"
    if (before != "") printf "  before: %s, timed in the same runs\n", before
    printf "\n"
    row("figure", "cpu", "wall", "compared with", "ratio", "target", "met")
    rule()

    core_block("heavy", check_heavy, sum_heavy)
    core_block("wide", check_wide, sum_wide)

    section("JSON scene load (the JSON scene source, file already in the page cache)")
    for (k = 1; k <= 2; k++) {
        sc = k == 1 ? "heavy" : "wide"
        j = "json_load/" sc
        want = k == 1 ? 500 : 400
        if (!(j in B)) { row("  " sc, "not built", "", "", "", ">= " want " MB/s", "NO"); all_ok = 0; continue }
        ok = B[j, "input"] / B[j, "cpu"] >= want
        row(sprintf("  %s x%s (%.0f MB)", sc, base, B[j, "input"]), fmt_mbs(B[j, "input"] / B[j, "cpu"]),
            fmt_mbs(B[j, "input"] / B[j, "real"]), "", "", ">= " want " MB/s", yesno(ok))
        all_ok = all_ok && ok
    }

    section("Script reader (heavy scripts the command wrote, read from memory into the reader's model)")
    for (i = 1; i <= nscales; i++) {
        j = "script_read/read_x" S[i]
        if (!(j in B)) { row("  heavy x" S[i], "not built", "", "", "", ">= 200 MB/s", "NO"); all_ok = 0; continue }
        ok = B[j, "input"] / B[j, "cpu"] >= 200
        r0 = "script_read/read_x" base
        r = (B[j, "cpu"] / B[j, "input"]) / (B[r0, "cpu"] / B[r0, "input"])
        row(sprintf("  heavy x%s (%.0f MB)", S[i], B[j, "input"]), fmt_mbs(B[j, "input"] / B[j, "cpu"]),
            fmt_mbs(B[j, "input"] / B[j, "real"]), "time per MB / x" base "'s", sprintf("%.2f", r), ">= 200 MB/s, 0.8-1.25", yesno(ok && r >= 0.8 && r <= 1.25))
        all_ok = all_ok && ok && r >= 0.8 && r <= 1.25
    }

    section(sprintf("End to end, heavy x%s as binary glTF (hyperfine medians; QSX %.0f MB, OBJ %.0f MB)", base, qsx_glb_bytes / 1e6, obj_bytes / 1e6))
    row("  qsxexport --batch heavy.glb -> .QSX", sprintf("%.2f s", H["qsx_glb", "cpu"]), sprintf("%.2f s", H["qsx_glb", "wall"]), "", "", "", "")
    row("  assimp export heavy.glb -> .obj", sprintf("%.2f s", H["assimp_obj", "cpu"]), sprintf("%.2f s", H["assimp_obj", "wall"]), "", "", "", "")
    ok = H["qsx_glb", "cpu"] <= 0.35 * H["assimp_obj", "cpu"]
    row("  qsxexport / assimp export", "", "", "time ratio (cpu | wall)",
        sprintf("%.2f|%.2f", H["qsx_glb", "cpu"] / H["assimp_obj", "cpu"], H["qsx_glb", "wall"] / H["assimp_obj", "wall"]), "<= 0.35", yesno(ok))
    all_ok = all_ok && ok
    before_row("glb", "heavy.glb", "assimp_obj")
    row("  qsxexport --batch heavy.json -> .QSX", sprintf("%.2f s", H["qsx_json", "cpu"]), sprintf("%.2f s", H["qsx_json", "wall"]),
        "its script vs the in-memory export", check_cmd, "", "")
    all_ok = all_ok && check_cmd == "same"

    section(sprintf("End to end, subdivided surface as OBJ, flat shaded (%s)", size_surface))
    row("  qsxexport --batch surface.obj -> .QSX", sprintf("%.2f s", H["qsx_surface", "cpu"]), sprintf("%.2f s", H["qsx_surface", "wall"]), "", "", "", "")
    row("  assimp export surface.obj -> .obj -tri", sprintf("%.2f s", H["assimp_surface", "cpu"]), sprintf("%.2f s", H["assimp_surface", "wall"]), "", "", "", "")
    ok = H["qsx_surface", "cpu"] <= 0.35 * H["assimp_surface", "cpu"]
    row("  qsxexport / assimp export", "", "", "time ratio (cpu | wall)",
        sprintf("%.2f|%.2f", H["qsx_surface", "cpu"] / H["assimp_surface", "cpu"], H["qsx_surface", "wall"] / H["assimp_surface", "wall"]), "<= 0.35", yesno(ok))
    all_ok = all_ok && ok
    before_row("surface", "surface.obj", "assimp_surface")
    ok = surface_lines == surface_pairs
    row("  Vertex lines written", surface_lines, "", "distinct (position, UV) pairs", surface_pairs, "equal", yesno(ok))
    all_ok = all_ok && ok

    section(sprintf("End to end, one script per node against one script (%s)", size_many))
    row("  qsxexport --batch --hierarchy separate", sprintf("%.2f s", H["qsx_separate", "cpu"]), sprintf("%.2f s", H["qsx_separate", "wall"]), "", "", "", "")
    row("  qsxexport --batch --hierarchy multiple", sprintf("%.2f s", H["qsx_one_script", "cpu"]), sprintf("%.2f s", H["qsx_one_script", "wall"]), "", "", "", "")
    ok = H["qsx_separate", "wall"] <= 3 * H["qsx_one_script", "wall"]
    row("  separate / one script", "", "", "time ratio (cpu | wall)",
        sprintf("%.2f|%.2f", H["qsx_separate", "cpu"] / H["qsx_one_script", "cpu"], H["qsx_separate", "wall"] / H["qsx_one_script", "wall"]), "<= 3 (wall)", yesno(ok))
    all_ok = all_ok && ok

    section("Settings files of many values in the exporter's key (whole command, minus the same run without settings)")
    nset = split(settings_sizes, N, " ")
    s0 = H["settings_none", "cpu"]
    for (i = 1; i <= nset; i++) {
        k = "settings_" N[i]
        t = H[k, "cpu"] - s0
        per[i] = t / N[i]
        target = N[i] <= 40000 ? 0.1 : 5
        ok = (k in H) && t <= target
        row(sprintf("  %d values", N[i]), sprintf("%.3f s", t), sprintf("%.3f s", H[k, "wall"] - H["settings_none", "wall"]),
            i > 1 ? "time per value / " N[1] "'s" : "", i > 1 ? sprintf("%.2f", per[i] / per[1]) : "",
            sprintf("<= %g s", target) (i > 1 ? ", <= 1.25" : ""), yesno(ok && (i == 1 || per[i] / per[1] <= 1.25)))
        all_ok = all_ok && ok && (i == 1 || per[i] / per[1] <= 1.25)
    }

    section("Peak resident memory (whole commands; then, in process, what the export adds to the loaded scene)")
    command_peak("  qsxexport --batch heavy.glb", rss_qsx_glb, mem_glb, 1, "<= 1x")
    row("  assimp export heavy.glb", sprintf("%.0f MB", rss_assimp / 1024), "", "qsxexport glb peak / assimp peak", sprintf("%.2fx", rss_qsx_glb / rss_assimp), "", "")
    command_peak("  qsxexport --batch heavy.json", rss_qsx_json, mem_json, 1.1, "within 1.1x")
    nm = split("heavy, generated|wide, generated|heavy.json|heavy.glb", names, "|")
    lines[1] = mem_gen_heavy; lines[2] = mem_gen_wide; lines[3] = mem_json; lines[4] = mem_glb
    for (k = 1; k <= nm; k++) {
        added = mem(lines[k], "added_kB"); table = mem(lines[k], "largest_table_kB")
        fixed = mem(lines[k], "fixed_kB"); buf = mem(lines[k], "file_buffer_kB")
        ok = added >= 0 && added <= table + buf + fixed
        row("  export's own peak (" names[k] ")", sprintf("%d kB", added), "",
            sprintf("table %d + buffer %d + fixed %d kB", table, buf, fixed), sprintf("%.2fx", added / (table + buf + fixed)), "<= 1x", yesno(ok))
        all_ok = all_ok && ok
    }

    section("Linear growth (heavy; time per unit of size, relative to x" base ")")
    t0 = B["export_file/heavy", "cpu"]
    line_core = sprintf("x%s %.0f ms", base, t0 * 1000)
    ok = 1
    for (i = 2; i <= nscales; i++) {
        k = "x" S[i] ":export_file/heavy"
        r = (B[k, "cpu"] / (S[i] / base)) / t0
        line_core = line_core sprintf(", x%s %.0f ms (%.2f)", S[i], B[k, "cpu"] * 1000, r)
        ok = ok && r >= 0.8 && r <= 1.25
    }
    row("  export core -> file", "", "", line_core, "", "0.8 to 1.25", yesno(ok))
    all_ok = all_ok && ok
    e0 = H["json_x" base, "cpu"]
    line_e2e = sprintf("x%s %.2f s", base, e0)
    ok = 1
    for (i = 2; i <= nscales; i++) {
        r = (H["json_x" S[i], "cpu"] / (S[i] / base)) / e0
        line_e2e = line_e2e sprintf(", x%s %.2f s (%.2f)", S[i], H["json_x" S[i], "cpu"], r)
        ok = ok && r >= 0.8 && r <= 1.25
    }
    row("  qsxexport --batch on the JSON scene", "", "", line_e2e, "", "0.8 to 1.25", yesno(ok))
    all_ok = all_ok && ok

    rule()
    printf "every target met: %s\n", all_ok ? "yes" : "no"
}
