import sys

from kelnor.cli import main

sys.exit(main())
