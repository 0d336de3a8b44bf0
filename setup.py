"""Builds the kinetra package with CMake: the compiled module, the shared library
it loads (beside it, found through its $ORIGIN run path), the type stub generated
from the built module, and the `kinetra` and `kinetra-sim` programs, which the
package's console scripts run.

Offline: `pip install --no-index --no-build-isolation .`. Only the targets the
package needs are built, with ccache when it is there. KINETRA_CMAKE_BUILD names
an existing CMake build directory to take them from instead of configuring one
(CI builds the tree once); it must have been configured with this interpreter's
version. CMAKE_BUILD_PARALLEL_LEVEL bounds the compiler jobs.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
PACKAGE_TARGETS = ["kinetra_python", "kinetra_python_stub", "kinetra", "kinetra-sim"]


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(kinetra_transport VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    """The compiled part, built by CMake rather than by setuptools."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def run(self):
        for extension in self.extensions:
            self.build_extension(extension)

    def configure(self, build_dir):
        arguments = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            # The interpreter running this script, not a python3 found first on PATH.
            "-DPython3_EXECUTABLE=" + sys.executable,
            "-DKINETRA_BUILD_TESTS=OFF", "-DKINETRA_BUILD_BENCH=OFF", "-DKINETRA_BUILD_EXAMPLES=OFF",
            "-DKINETRA_BUILD_PYTHON=ON",
        ]
        try:
            import pybind11
            arguments.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass  # CMake then looks in the system's places
        subprocess.run(arguments, check=True)

    def build_extension(self, ext):
        reused = os.environ.get("KINETRA_CMAKE_BUILD")
        build_dir = Path(reused).resolve() if reused else Path(self.build_temp).resolve() / "cmake"
        if not reused:
            self.configure(build_dir)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build_dir), "-j", jobs, "--target", *PACKAGE_TARGETS], check=True)

        package = Path(self.get_ext_fullpath(ext.name)).parent
        staging = Path(self.build_temp).resolve() / "staging"
        shutil.rmtree(staging, ignore_errors=True)
        # The module as installed: its run path rewritten to find the library beside it.
        subprocess.run(["cmake", "--install", str(build_dir), "--component", "python", "--prefix", str(staging)],
                       check=True, stdout=subprocess.DEVNULL)
        installed = next(staging.rglob("kinetra/_core*"))
        package.mkdir(parents=True, exist_ok=True)
        for item in installed.parent.iterdir():
            shutil.copy2(item, package / item.name)
        for line in (build_dir / "python" / "wheel-files.txt").read_text().splitlines():
            kind, source, name = line.split()
            destination = package / ("bin" if kind == "program" else "") / name
            destination.parent.mkdir(exist_ok=True)
            shutil.copy2(source, destination)
        self.strip_debug_info(package)

    @staticmethod
    def strip_debug_info(package):
        """A build tree's debug information would make the wheel ten times larger."""
        strip = shutil.which("strip")
        if strip is None:
            return
        compiled = [path for path in package.rglob("*") if path.is_file() and path.read_bytes()[:4] == b"\x7fELF"]
        subprocess.run([strip, "--strip-debug", *map(str, compiled)], check=True)


setup(
    version=project_version(),
    packages=["kinetra"],
    package_dir={"kinetra": "python/kinetra"},
    package_data={"kinetra": ["py.typed", "*.pyi", "bin/*", "*.so*"]},
    ext_modules=[CMakeExtension("kinetra._core")],
    cmdclass={"build_ext": CMakeBuild},
    # Beside the CMake trees (build*/), not inside the default one.
    options={"build": {"build_base": "build-wheel"}},
    zip_safe=False,
)
