#include "renderer/scene/mesh_loader.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

namespace vosh::render {

namespace {

// The importer's own invalid-data step would also drop the tangents of a
// flat mesh (all alike), so arrays are checked here: one value that is not
// finite (or a zero normal) drops the array, as that step would.
bool usable(const aiVector3D* values, unsigned count, bool zero_allowed) {
    if (!values) return false;
    for (unsigned i = 0; i < count; ++i) {
        const aiVector3D& v = values[i];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return false;
        if (!zero_allowed && v.x == 0 && v.y == 0 && v.z == 0) return false;
    }
    return true;
}

bool import_mesh(const std::string& path, MeshData& out, std::string& error) {
    Assimp::Importer importer;
    // Points and lines are dropped: only surfaces occlude.
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    const aiScene* scene = importer.ReadFile(
        path, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                  aiProcess_PreTransformVertices);
    if (!scene || !scene->mRootNode) {
        error = std::string("cannot read mesh: ") + importer.GetErrorString();
        return false;
    }
    MeshData mesh;
    bool all_have_normals = true;
    bool all_have_tangents = true;
    unsigned uv_sets = AI_MAX_NUMBER_OF_TEXTURECOORDS;  // that every part has
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        if (!(part->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        const unsigned n = part->mNumVertices;
        const bool normals = usable(part->mNormals, n, false);
        all_have_normals = all_have_normals && normals;
        unsigned k = 0;
        while (k < uv_sets && usable(part->mTextureCoords[k], n, true)) ++k;
        uv_sets = k;
        all_have_tangents = all_have_tangents && normals && usable(part->mTangents, n, true) &&
                            usable(part->mBitangents, n, true);
    }
    const bool all_have_uvs = uv_sets > 0;
    if (uv_sets > 1) mesh.extra_uvs.resize(uv_sets - 1);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        if (!(part->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        const uint32_t base = static_cast<uint32_t>(mesh.positions.size());
        for (unsigned v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            mesh.positions.push_back({p.x, p.y, p.z});
            if (all_have_normals) {
                const aiVector3D& n = part->mNormals[v];
                mesh.normals.push_back(normalize(Vec3{n.x, n.y, n.z}));
            }
            if (all_have_uvs) {
                const aiVector3D& t = part->mTextureCoords[0][v];
                mesh.uvs.push_back({t.x, t.y, 0});
            }
            if (all_have_tangents) {
                // The importer keeps the handedness as a bitangent.
                const aiVector3D &t = part->mTangents[v], &b = part->mBitangents[v],
                                 &n = part->mNormals[v];
                const Vec3 tangent{t.x, t.y, t.z};
                const double side = dot(cross(Vec3{n.x, n.y, n.z}, tangent), Vec3{b.x, b.y, b.z});
                mesh.tangents.push_back(tangent);
                mesh.tangent_signs.push_back(side < 0 ? -1.0 : 1.0);
            }
            for (unsigned k = 1; k < uv_sets; ++k) {
                const aiVector3D& t = part->mTextureCoords[k][v];
                mesh.extra_uvs[k - 1].push_back({t.x, t.y, 0});
            }
        }
        for (unsigned f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3) continue;
            for (int k = 0; k < 3; ++k) mesh.indices.push_back(base + face.mIndices[k]);
        }
    }
    for (const Vec3& p : mesh.positions)
        if (!is_finite(p)) {
            error = "mesh has a vertex that is not a finite number";
            return false;
        }
    if (mesh.indices.empty()) {
        error = "mesh holds no triangle";
        return false;
    }
    out = std::move(mesh);
    return true;
}

// The child's answer through the pipe: a flag, the reason, then each array
// as a count and its raw values.
template <class T>
void put(std::string& buffer, const T* values, uint64_t count) {
    buffer.append(reinterpret_cast<const char*>(&count), sizeof count);
    buffer.append(reinterpret_cast<const char*>(values), count * sizeof(T));
}

template <class T>
bool take(const std::string& buffer, size_t& at, std::vector<T>& values) {
    uint64_t count;
    if (buffer.size() - at < sizeof count) return false;
    std::memcpy(&count, buffer.data() + at, sizeof count);
    at += sizeof count;
    if (count > (buffer.size() - at) / sizeof(T)) return false;
    values.resize(count);
    if (count > 0) std::memcpy(values.data(), buffer.data() + at, count * sizeof(T));
    at += count * sizeof(T);
    return true;
}

std::string encode(bool ok, const std::string& problem, const MeshData& mesh) {
    std::string buffer(1, ok ? 1 : 0);
    put(buffer, problem.data(), problem.size());
    put(buffer, mesh.positions.data(), mesh.positions.size());
    put(buffer, mesh.normals.data(), mesh.normals.size());
    put(buffer, mesh.uvs.data(), mesh.uvs.size());
    put(buffer, mesh.tangents.data(), mesh.tangents.size());
    put(buffer, mesh.tangent_signs.data(), mesh.tangent_signs.size());
    put(buffer, mesh.indices.data(), mesh.indices.size());
    const uint64_t sets = mesh.extra_uvs.size();
    put(buffer, &sets, 1);
    for (const auto& set : mesh.extra_uvs) put(buffer, set.data(), set.size());
    return buffer;
}

bool decode(const std::string& buffer, bool& ok, std::string& problem, MeshData& mesh) {
    if (buffer.empty()) return false;
    ok = buffer[0] == 1;
    size_t at = 1;
    std::vector<char> text;
    if (!take(buffer, at, text) || !take(buffer, at, mesh.positions) ||
        !take(buffer, at, mesh.normals) || !take(buffer, at, mesh.uvs) ||
        !take(buffer, at, mesh.tangents) || !take(buffer, at, mesh.tangent_signs) ||
        !take(buffer, at, mesh.indices))
        return false;
    std::vector<uint64_t> sets;
    if (!take(buffer, at, sets) || sets.size() != 1 || sets[0] > AI_MAX_NUMBER_OF_TEXTURECOORDS)
        return false;
    mesh.extra_uvs.resize(sets[0]);
    for (auto& set : mesh.extra_uvs)
        if (!take(buffer, at, set) || set.size() != mesh.positions.size()) return false;
    if (at != buffer.size()) return false;
    problem.assign(text.begin(), text.end());
    return true;
}

void write_all(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::string read_all(int fd) {
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return data;
        data.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace

bool load_mesh(const std::string& path, MeshData& out, std::string& error) {
    // The importer reads dozens of formats and some of its readers crash on
    // a malformed file (a truncated binary PLY does), so it runs in a child
    // process: a broken file becomes an error line, not the end of vosh-render.
    int fds[2];
    if (pipe(fds) != 0) return import_mesh(path, out, error);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return import_mesh(path, out, error);
    }
    if (pid == 0) {
        close(fds[0]);
        // Whatever the importer (or a sanitizer) would print goes nowhere;
        // the parent says what went wrong.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        MeshData mesh;
        std::string problem;
        const bool ok = import_mesh(path, mesh, problem);
        write_all(fds[1], encode(ok, problem, mesh));
        _exit(0);
    }
    close(fds[1]);
    const std::string answer = read_all(fds[0]);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    bool ok = false;
    std::string problem;
    MeshData mesh;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !decode(answer, ok, problem, mesh)) {
        error = "cannot read mesh: the importer crashed reading it";
        return false;
    }
    if (!ok) {
        error = problem;
        return false;
    }
    out = std::move(mesh);
    return true;
}

}  // namespace vosh::render
