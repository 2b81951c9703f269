import struct, random, math
random.seed(35)
n=300
names=["x","y","z","nx","ny","nz","f_dc_0","f_dc_1","f_dc_2"]+["f_rest_%d"%i for i in range(45)]+["opacity","scale_0","scale_1","scale_2","rot_0","rot_1","rot_2","rot_3"]
h="ply\nformat binary_little_endian 1.0\nelement vertex %d\n"%n+"".join("property float %s\n"%p for p in names)+"end_header\n"
out=bytearray(h.encode())
for i in range(n):
    v=[random.uniform(-1.2,1.2) for _ in range(3)]+[0,0,1]+[random.uniform(-1.2,1.2) for _ in range(3)]+[random.uniform(-1,1)*(0.08 if i%15<3 else 0.03) for i in range(45)]
    v+=[random.uniform(-3,3)]+[math.log(0.02+0.05*random.uniform(0,2)) for _ in range(3)]+[random.uniform(-1,1) for _ in range(4)]
    out+=struct.pack("<%df"%len(v),*v)
open("source.ply","wb").write(out)
