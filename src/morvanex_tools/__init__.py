"""The `morvanex` command: scoring sessions over word lists with morvanex, and segmenting with their scores.

`morvanex train` runs a session (python -m morvanex_tools train works too),
`morvanex segment` segments words with a saved one.  The modules serve
Python code as well: words (reading word lists), candidates (preparing a
session), sessions (iterating, saving and loading), covers (best covers),
outputs (the results and segments files, read back with
outputs.read_results).
"""
