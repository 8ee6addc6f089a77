#!/usr/bin/env python3
# Runs test_cli, which keeps every JSON output it parses in a fresh folder,
# and validates each against the published schema:  check_schema.py TEST_CLI SCHEMA
import json, os, subprocess, sys, tempfile
from jsonschema import Draft202012Validator

schema = json.load(open(sys.argv[2]))
Draft202012Validator.check_schema(schema)
with tempfile.TemporaryDirectory() as folder:
    subprocess.run([sys.argv[1]], env=dict(os.environ, TOVACREX_CLI_JSON_DIR=folder),
                   stdout=subprocess.DEVNULL, check=True)
    outputs = {n: json.load(open(os.path.join(folder, n))) for n in sorted(os.listdir(folder))}
    errors = [f"{n}: {e.message}" for n, o in outputs.items() for e in Draft202012Validator(schema).iter_errors(o)]
    print(f"{len(outputs)} outputs, {len(errors)} errors", *errors, sep="\n")
    sys.exit(1 if errors or not outputs else 0)
