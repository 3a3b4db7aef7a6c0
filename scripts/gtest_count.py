#!/usr/bin/env python3
"""Prints 'passed failed skipped' summed over GoogleTest XML reports."""
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        failed += 1  # a report that is missing or cut short: the run crashed
        continue
    for case in root.iter('testcase'):
        if case.get('status') == 'notrun' or case.get('result') == 'suppressed':
            continue
        if case.find('failure') is not None or case.find('error') is not None:
            failed += 1
        elif case.find('skipped') is not None or case.get('result') == 'skipped':
            skipped += 1
        else:
            passed += 1
print(passed, failed, skipped)
