#!/usr/bin/env python3
# Runs test_cli, which keeps every JSON output it parses in a fresh folder,
# and validates each against the published schema.
#   check_schema.py TEST_CLI SCHEMA
import json, os, subprocess, sys, tempfile
from jsonschema import Draft202012Validator

test_cli, schema_file = sys.argv[1:3]
with open(schema_file) as f:
    schema = json.load(f)
Draft202012Validator.check_schema(schema)
with tempfile.TemporaryDirectory() as folder:
    subprocess.run([test_cli], env=dict(os.environ, TOVACREX_CLI_JSON_DIR=folder), stdout=subprocess.DEVNULL, check=True)
    names = sorted(os.listdir(folder))
    errors = [f"{n}: {e.message}" for n in names for e in Draft202012Validator(schema).iter_errors(json.load(open(os.path.join(folder, n))))]
    print(f"{len(names)} outputs, {len(errors)} errors", *errors, sep="\n")
    sys.exit(1 if errors or not names else 0)
