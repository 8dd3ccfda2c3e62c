import sys

from kelnor.cli.main import main

sys.exit(main())
