#!/usr/bin/env python3
"""A reliability campaign: generated databases of every kind and an archive,
mutated (a bit flipped, a byte or tag changed, cut short, a byte inserted),
then unpacked, packed, compared, checked and extracted. Reports every broken
promise: a database that unpacks must pack back byte for byte and diff
against its original as different (as equal when unchanged); one unpack
refuses, diff must call trouble (2); a failed unpack or extract into an
earlier folder must leave it as it was, and a fresh one not at all; no
temporary may be left. Exit status 1 when anything broke.

    tools/mutation-campaign.py build/default WORK_DIR ROUNDS_PER_KIND
"""
import os, random, shutil, subprocess, sys, hashlib

build, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
gamedb, make = os.path.join(build, "gamedb"), os.path.join(build, "make_gamedb")
rng = random.Random(15)
faults, stats = [], {}

def run(*args):
    r = subprocess.run([gamedb, "--quiet", *args], cwd=work, capture_output=True, timeout=60)
    if r.returncode not in (0, 1, 2):
        faults.append(f"{args}: exit {r.returncode} {r.stderr[-200:]!r}")
    return r

def snapshot(d):
    out = {}
    for root, dirs, files in os.walk(os.path.join(work, d)):
        for f in files + [x for x in dirs if os.path.islink(os.path.join(root, x))]:
            p = os.path.join(root, f)
            out[os.path.relpath(p, work)] = open(p, "rb").read() if os.path.isfile(p) and not os.path.islink(p) else b"->"
        for x in dirs:
            out[os.path.relpath(os.path.join(root, x), work) + "/"] = b""
    return out

def mutate(data):
    data = bytearray(data)
    how = rng.choice(["flip", "byte", "cut", "insert", "tag"])
    if how == "cut": return bytes(data[: rng.randrange(len(data))]), how
    if how == "insert":
        i = rng.randrange(len(data) + 1); return bytes(data[:i] + bytes([rng.randrange(256)]) + data[i:]), how
    i = rng.randrange(len(data))
    if how == "flip": data[i] ^= 1 << rng.randrange(8)
    elif how == "tag": data[i] = rng.choice([0, 1, 2, 3, 0xFF])
    else: data[i] = rng.randrange(256)
    return bytes(data), how

def count(k): stats[k] = stats.get(k, 0) + 1

shutil.rmtree(work, ignore_errors=True); os.makedirs(work)
kinds = {"items": "a.idb", "levers": "a.ldb", "perks": "a.pdb", "prints": "prints.db",
         "spells": "a.sdb", "units": "a.udb", "quests": "a.qdb", "acks": "acks.db"}
for kind, name in kinds.items():
    subprocess.run([make, kind, os.path.join(work, name), "3"], check=True)
    orig = open(os.path.join(work, name), "rb").read()
    for n in range(rounds):
        mut, how = mutate(orig)
        mname = "m-" + name
        open(os.path.join(work, mname), "wb").write(mut)
        shutil.rmtree(os.path.join(work, "t"), ignore_errors=True)
        u = run("--kind", kind, "unpack", mname, "t")
        d = run("--kind", kind, "diff", name, mname)
        if u.returncode == 0:
            count("db unpacked")
            p = run("pack", "t", "again.bin")
            if p.returncode != 0 or open(os.path.join(work, "again.bin"), "rb").read() != mut:
                faults.append(f"{kind} {how}: unpacked but did not pack back byte for byte")
            want = 0 if mut == orig else 1
            if d.returncode != want:
                faults.append(f"{kind} {how}: diff exit {d.returncode}, expected {want}")
        else:
            count("db refused")
            if os.path.exists(os.path.join(work, "t")): faults.append(f"{kind} {how}: failed unpack left its folder")
            if d.returncode != 2: faults.append(f"{kind} {how}: unpack refused it, diff exit {d.returncode} (expected 2)")
        run("--kind", kind, "check", mname)

# Archives: a database, plain files in folders; unpack over an edited earlier unpack.
for n in ["z3q1"]: os.makedirs(os.path.join(work, n), exist_ok=True)
open(os.path.join(work, "z3q1", "map.txt"), "wb").write(b"map\r\n" * 20)
open(os.path.join(work, "read.txt"), "wb").write(b"x" * 50)
assert run("res", "create", "g.res", "a.udb", "z3q1/map.txt", "read.txt").returncode == 0
good = open(os.path.join(work, "g.res"), "rb").read()
assert run("unpack", "g.res", "mod").returncode == 0
open(os.path.join(work, "mod", "z3q1", "map.txt"), "wb").write(b"edited")
assert run("res", "extract", "g.res", "-o", "ex").returncode == 0
open(os.path.join(work, "ex", "read.txt"), "wb").write(b"edited")
for n in range(rounds * 4):
    mut, how = mutate(good)
    open(os.path.join(work, "m.res"), "wb").write(mut)
    before, beforeEx = snapshot("mod"), snapshot("ex")
    u = run("unpack", "m.res", "mod")
    if u.returncode == 0:
        count("archive unpacked")
        shutil.rmtree(os.path.join(work, "mod")); assert run("unpack", "g.res", "mod").returncode == 0
        open(os.path.join(work, "mod", "z3q1", "map.txt"), "wb").write(b"edited")
    else:
        count("archive refused")
        if snapshot("mod") != before: faults.append(f"archive {how}: failed unpack changed the folder")
    e = run("res", "extract", "m.res", "-o", "ex")
    if e.returncode == 0:
        shutil.rmtree(os.path.join(work, "ex")); assert run("res", "extract", "g.res", "-o", "ex").returncode == 0
        open(os.path.join(work, "ex", "read.txt"), "wb").write(b"edited")
    elif snapshot("ex") != beforeEx: faults.append(f"archive {how}: failed extract changed the folder")
    shutil.rmtree(os.path.join(work, "fresh"), ignore_errors=True)
    if run("unpack", "m.res", "fresh").returncode == 0:
        p = run("pack", "fresh", "p.res")
        if p.returncode != 0: faults.append(f"archive {how}: unpacked but pack failed: {p.stderr[-200:]!r}")
        else:
            shutil.rmtree(os.path.join(work, "x1"), ignore_errors=True); shutil.rmtree(os.path.join(work, "x2"), ignore_errors=True)
            run("res", "extract", "m.res", "-o", "x1"); run("res", "extract", "p.res", "-o", "x2")
            a = {k[3:]: v for k, v in snapshot("x1").items()}; b = {k[3:]: v for k, v in snapshot("x2").items()}
            if a != b: faults.append(f"archive {how}: packed archive holds other members")
    elif os.path.exists(os.path.join(work, "fresh")): faults.append(f"archive {how}: failed unpack left its folder")
leftovers = [f for r, ds, fs in os.walk(work) for f in fs if ".~gdb" in f]
if leftovers: faults.append(f"temporaries left: {leftovers[:5]}")
print("stats:", stats)
print(f"{len(faults)} faults")
for f in faults[:40]: print(" ", f)
sys.exit(1 if faults else 0)
